// The records that controller service calls carry whole, by their sizes in bytes: the Windows
// structures a host hands over or gets back (the public header declares them as ZEB... records
// of these sizes).
#pragma once

#include <cstddef>

namespace zeb::vocab::records {

inline constexpr size_t kFileTimeSize = 8;                   // FILETIME
inline constexpr size_t kFileTimesSize = 3 * kFileTimeSize;  // creation, last access, last write
inline constexpr size_t kFileInfoSize = 52;                  // BY_HANDLE_FILE_INFORMATION
inline constexpr size_t kFindDataSize = 560;                 // WIN32_FIND_DATA, names in UTF-16
inline constexpr size_t kSecurityAttributesSize = 12;        // SECURITY_ATTRIBUTES
inline constexpr size_t kCommStateSize = 28;                 // DCB
inline constexpr size_t kCommTimeoutsSize = 20;              // COMMTIMEOUTS
inline constexpr size_t kCommStatusSize = 12;                // COMSTAT
inline constexpr size_t kCommPropertiesSize = 64;            // COMMPROP

}  // namespace zeb::vocab::records
