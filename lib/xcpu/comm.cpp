// The controller's serial ports: their line settings, time-outs, queues, error state and
// capabilities, each record shipped to the module or back as it stands.
#include "xcpu/service.h"

namespace zeb::xcpu {
namespace {

using Call = ServiceCall<kCommonBuffer, kCommonBuffer>;

}  // namespace
}  // namespace zeb::xcpu

using namespace zeb;
using namespace zeb::xcpu;

extern "C" {

int32_t XCPUSetCommState(ZEBDevice* device, uint32_t port, const ZEBCommState* dcb,
                         uint32_t* result) {
    return Call(device, Service::set_comm_state).number(port).record(dcb).run(result);
}

int32_t XCPUGetCommState(ZEBDevice* device, uint32_t port, ZEBCommState* dcb, uint32_t* result) {
    return Call(device, Service::get_comm_state).number(port).run(result, {record(dcb)});
}

int32_t XCPUSetCommTimeouts(ZEBDevice* device, uint32_t port, const ZEBCommTimeouts* timeouts,
                            uint32_t* result) {
    return Call(device, Service::set_comm_timeouts).number(port).record(timeouts).run(result);
}

int32_t XCPUGetCommTimeouts(ZEBDevice* device, uint32_t port, ZEBCommTimeouts* timeouts,
                            uint32_t* result) {
    return Call(device, Service::get_comm_timeouts).number(port).run(result, {record(timeouts)});
}

int32_t XCPUPurgeComm(ZEBDevice* device, uint32_t port, uint32_t flags, uint32_t* result) {
    return Call(device, Service::purge_comm).number(port).number(flags).run(result);
}

int32_t XCPUClearCommError(ZEBDevice* device, uint32_t port, uint32_t* errors,
                           ZEBCommStatus* status, uint32_t* result) {
    return Call(device, Service::clear_comm_error)
        .number(port)
        .run(result, {value(errors), record(status)});
}

int32_t XCPUGetCommProperties(ZEBDevice* device, uint32_t port, ZEBCommProperties* properties,
                              uint32_t* result) {
    return Call(device, Service::get_comm_properties)
        .number(port)
        .run(result, {record(properties)});
}

}  // extern "C"
