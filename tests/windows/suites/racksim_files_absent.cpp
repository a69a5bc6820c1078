// RackSim's controller module on Windows, for racks played on the simulated network: its file
// services walk the host's folders with POSIX calls (openat, fstatat, getdents64) that Windows
// lacks, so here every one of them fails with ERROR_INVALID_FUNCTION and touches nothing. The
// tests that reach a controller's files are in the list of what does not run on Windows.
#include <unistd.h>

#include "module_paths.h"
#include "windows_errors.h"
#include "xcpu_service.h"

namespace racksim {

uint32_t winerr::from_errno(int err, uint32_t) {
    return err == 0 ? kSuccess : kGenFailure;
}

#define ZEB_NO_FILE_SERVICE(name)                \
    bool name(ServiceCall& c) {                  \
        return c.fail(winerr::kInvalidFunction); \
    }
ZEB_NO_FILE_SERVICE(svc_create_file)
ZEB_NO_FILE_SERVICE(svc_read_file)
ZEB_NO_FILE_SERVICE(svc_write_file)
ZEB_NO_FILE_SERVICE(svc_close_handle)
ZEB_NO_FILE_SERVICE(svc_get_file_time)
ZEB_NO_FILE_SERVICE(svc_set_file_time)
ZEB_NO_FILE_SERVICE(svc_find_first_file)
ZEB_NO_FILE_SERVICE(svc_find_close)
ZEB_NO_FILE_SERVICE(svc_find_next_file)
ZEB_NO_FILE_SERVICE(svc_delete_file)
ZEB_NO_FILE_SERVICE(svc_set_end_of_file)
ZEB_NO_FILE_SERVICE(svc_set_file_pointer)
ZEB_NO_FILE_SERVICE(svc_flush_file_buffers)
ZEB_NO_FILE_SERVICE(svc_get_file_size)
ZEB_NO_FILE_SERVICE(svc_get_file_information)
ZEB_NO_FILE_SERVICE(svc_set_file_attributes)
ZEB_NO_FILE_SERVICE(svc_get_file_attributes)
ZEB_NO_FILE_SERVICE(svc_create_directory)
ZEB_NO_FILE_SERVICE(svc_remove_directory)

}  // namespace racksim
