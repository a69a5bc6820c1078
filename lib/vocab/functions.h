// The function codes: the first byte of every request body, and what each is shown as.
#pragma once

#include <cstdint>

#include "vocab/named.h"

namespace zeb::vocab {

namespace fn {

// Identity and version.
inline constexpr uint8_t kVersionInfo = 0x01;
inline constexpr uint8_t kSupportInfo = 0x02;
inline constexpr uint8_t kDeviceDef = 0x04;

// Discovery.
inline constexpr uint8_t kQueryDevices = 0x05;
inline constexpr uint8_t kQueryDeviceData = 0x09;

// I/O exchange.
inline constexpr uint8_t kWriteIo = 0x06;
inline constexpr uint8_t kReadIo = 0x07;
inline constexpr uint8_t kWriteIoNoRead = 0x30;

// Base definition.
inline constexpr uint8_t kReadBaseDef = 0x08;
inline constexpr uint8_t kWriteBaseDef = 0x0F;
inline constexpr uint8_t kInitBaseDef = 0x18;

// Setup data store.
inline constexpr uint8_t kEnumSetup = 0x0A;
inline constexpr uint8_t kReadSetup = 0x0B;
inline constexpr uint8_t kWriteSetup = 0x0C;
inline constexpr uint8_t kDeleteSetup = 0x0D;

// Configuration data.
inline constexpr uint8_t kWriteConfig = 0x61;
inline constexpr uint8_t kReadConfig = 0x62;

// Diagnostics.
inline constexpr uint8_t kEthernetStats = 0x0E;
inline constexpr uint8_t kPetDevice = 0x14;
inline constexpr uint8_t kModuleStatus = 0x17;

// Controller protocols carried through the module, acknowledged before their answer.
inline constexpr uint8_t kCcmRequest = 0x19;
inline constexpr uint8_t kKseqRequest = 0x1A;

// Serial pass-through: one code for every port operation, the operation in the next byte
// (vocab/serial_ops.h).
inline constexpr uint8_t kSerial = 0x23;

// Memory and shared RAM.
inline constexpr uint8_t kWriteMemory = 0x24;
inline constexpr uint8_t kReadMemory = 0x25;
inline constexpr uint8_t kEnumMemory = 0x26;
inline constexpr uint8_t kAccessMemory = 0x27;
inline constexpr uint8_t kReadSharedRam = 0x28;
inline constexpr uint8_t kWriteSharedRam = 0x29;

// Networked nodes: a block written into a node's program space.
inline constexpr uint8_t kWritePgmSpace = 0x60;

// Controller modules: each of these requests carries its code's one's complement in the next
// byte. The service call names the service in the two bytes after that (vocab/services.h).
inline constexpr uint8_t kXcpuRunProgram = 0x34;
inline constexpr uint8_t kXcpuService = 0x35;
inline constexpr uint8_t kXcpuSetOsLoad = 0xF9;
inline constexpr uint8_t kXcpuReboot = 0xFA;

}  // namespace fn

// Every function code, in the order of its number.
inline constexpr Named<uint8_t> kFunctions[] = {
    {fn::kVersionInfo, "Read version info"},
    {fn::kSupportInfo, "Read support info"},
    {fn::kDeviceDef, "Read device definition"},
    {fn::kQueryDevices, "Query devices"},
    {fn::kWriteIo, "Write I/O"},
    {fn::kReadIo, "Read I/O"},
    {fn::kReadBaseDef, "Read base definition"},
    {fn::kQueryDeviceData, "Query device data"},
    {fn::kEnumSetup, "Enumerate setup data"},
    {fn::kReadSetup, "Read setup data"},
    {fn::kWriteSetup, "Write setup data"},
    {fn::kDeleteSetup, "Delete setup data"},
    {fn::kEthernetStats, "Read Ethernet statistics"},
    {fn::kWriteBaseDef, "Write base definition"},
    {fn::kPetDevice, "Pet device"},
    {fn::kModuleStatus, "Read module status"},
    {fn::kInitBaseDef, "Init base definition / rescan"},
    {fn::kCcmRequest, "CCM request"},
    {fn::kKseqRequest, "K-sequence request"},
    {fn::kSerial, "Serial pass-through"},
    {fn::kWriteMemory, "Write memory"},
    {fn::kReadMemory, "Read memory"},
    {fn::kEnumMemory, "Enumerate memory"},
    {fn::kAccessMemory, "Access memory"},
    {fn::kReadSharedRam, "Read shared RAM"},
    {fn::kWriteSharedRam, "Write shared RAM"},
    {fn::kWriteIoNoRead, "Write I/O, no read"},
    {fn::kXcpuRunProgram, "Controller: run program"},
    {fn::kXcpuService, "Controller: service call"},
    {fn::kWritePgmSpace, "Write program space"},
    {fn::kWriteConfig, "Write configuration data"},
    {fn::kReadConfig, "Read configuration data"},
    {fn::kXcpuSetOsLoad, "Controller: set OS load"},
    {fn::kXcpuReboot, "Controller: reboot"},
};
static_assert(ascending(kFunctions));

}  // namespace zeb::vocab
