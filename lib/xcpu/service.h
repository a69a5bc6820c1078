// The controller's service call: the service code and its complement, a service number, the
// arguments (32-bit numbers, records, blocks of data, paths), one exchange, then a reply of
// status word, return value and output data. Every service member is one declaration on it:
//
//     return ServiceCall<kRequest, kReply>(device, Service::close_handle)
//         .number(handle)
//         .run(result);
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "core/request.h"
#include "vocab/capacities.h"
#include "vocab/services.h"

namespace zeb::xcpu {

// The services, by their numbers on the wire.
enum class Service : uint16_t {
    create_file = vocab::service::kCreateFile,
    read_file = vocab::service::kReadFile,
    write_file = vocab::service::kWriteFile,
    get_last_error = vocab::service::kGetLastError,
    close_handle = vocab::service::kCloseHandle,
    set_comm_state = vocab::service::kSetCommState,
    get_comm_state = vocab::service::kGetCommState,
    set_comm_timeouts = vocab::service::kSetCommTimeouts,
    get_comm_timeouts = vocab::service::kGetCommTimeouts,
    set_last_error = vocab::service::kSetLastError,
    get_file_time = vocab::service::kGetFileTime,
    set_file_time = vocab::service::kSetFileTime,
    find_first_file = vocab::service::kFindFirstFile,
    find_close = vocab::service::kFindClose,
    find_next_file = vocab::service::kFindNextFile,
    delete_file = vocab::service::kDeleteFile,
    set_end_of_file = vocab::service::kSetEndOfFile,
    set_file_pointer = vocab::service::kSetFilePointer,
    flush_file_buffers = vocab::service::kFlushFileBuffers,
    get_file_size = vocab::service::kGetFileSize,
    get_file_information = vocab::service::kGetFileInformation,
    set_file_attributes = vocab::service::kSetFileAttributes,
    get_file_attributes = vocab::service::kGetFileAttributes,
    create_directory = vocab::service::kCreateDirectory,
    remove_directory = vocab::service::kRemoveDirectory,
    purge_comm = vocab::service::kPurgeComm,
    clear_comm_error = vocab::service::kClearCommError,
    get_comm_properties = vocab::service::kGetCommProperties,
};

// Request buffers and reply capacities, headers included.
inline constexpr size_t kSmallBuffer = vocab::capacity::kServiceSmall;
inline constexpr size_t kCommonBuffer = vocab::capacity::kServiceCommon;
inline constexpr size_t kFindBuffer = vocab::capacity::kServiceFind;
inline constexpr size_t kLargeBuffer = vocab::capacity::kServiceLarge;

// Where the reply body keeps its parts.
inline constexpr size_t kReturnValueAt = 2;
inline constexpr size_t kOutputsAt = 6;
inline constexpr size_t kValueSize = 4;

// A code and its one's complement: the first two bytes of every request of the family.
template <size_t Capacity>
void put_code(Request<Capacity>& request, uint8_t code) noexcept {
    request.u8(code).u8(static_cast<uint8_t>(~code));
}

// The length of a zero-terminated string, or `limit` when no zero comes before it; no byte
// past the zero or past `limit` is read.
size_t bounded_length(const char* text, size_t limit) noexcept;

// A result as the family returns it: the same 32 bits, signed.
inline int32_t as_result(uint32_t result) noexcept {
    return static_cast<int32_t>(result);
}

// One output field of a reply, in the order of the reply's output data: `size` bytes, copied
// to `to` as they came (a record) or as a little-endian 32-bit number (a value). A null `to`
// takes nothing, and its bytes need not have arrived.
struct Output {
    void* to;
    size_t size;
    bool number;
};
inline Output value(uint32_t* to) noexcept {
    return {to, kValueSize, true};
}
inline Output value(int32_t* to) noexcept {
    return {to, kValueSize, true};
}
template <class Record>
Output record(Record* to) noexcept {
    return {to, sizeof(Record), false};
}

// The reply body as it arrived.
struct ServiceReply {
    const uint8_t* body;
    size_t size;

    bool has(size_t at, size_t count) const noexcept { return at <= size && count <= size - at; }
    uint32_t u32(size_t at) const noexcept;
    uint16_t status() const noexcept;
};
template <size_t Capacity>
ServiceReply view(const Reply<Capacity>& reply) noexcept {
    return {reply.body(), reply.body_size()};
}

// Delivers a reply: the return value into `returned`, the outputs in their order from the
// output data, and the status word as the result. When a field wanted is missing, nothing is
// written, and the result is the status word if it is nonzero, else ZEBERR_NO_DATA.
int32_t deliver(const ServiceReply& reply, uint32_t* returned,
                std::initializer_list<Output> outputs) noexcept;

// The result of a reply whose fields were missing: its nonzero status word (a refusal of the
// module's says more than the missing bytes do), else ZEBERR_NO_DATA.
int32_t short_reply(const ServiceReply& reply) noexcept;

// The status word as the result: sign-extended, 0 when accepted.
inline int32_t status_as_result(const ServiceReply& reply) noexcept {
    return as_result(status_signed(reply.status()));
}

// One service call being written into its request buffer. Arguments that do not fit the buffer
// make the call refuse with ZEBERR_PACKET_TOO_LARGE, and a null pointer where data must go
// with ZEBERR_BAD_PARAMETER; a refused call sends nothing.
template <size_t RequestCapacity, size_t ReplyCapacity>
class ServiceCall {
  public:
    ServiceCall(ZEBDevice* device, Service service) noexcept : device_(device), request_(device) {
        put_code(request_, fn::kXcpuService);
        request_.u16(static_cast<uint16_t>(service));
    }

    ServiceCall& number(uint32_t v) noexcept {
        request_.u32(v);
        return *this;
    }
    // A record of `size` bytes, copied as it stands; it must be given.
    ServiceCall& record(const void* data, size_t size) noexcept {
        if (!data) return refuse(ZEBERR_BAD_PARAMETER);
        request_.bytes(data, size);
        return *this;
    }
    template <class Record>
    ServiceCall& record(const Record* data) noexcept {
        return record(static_cast<const void*>(data), sizeof(Record));
    }
    // A record that may be left out: zeros in its place.
    template <class Record>
    ServiceCall& record_or_zeros(const Record* data) noexcept {
        static constexpr Record kZeros{};
        return record(data ? data : &kZeros);
    }
    // `count` bytes of the caller's data.
    ServiceCall& block(const void* data, size_t count) noexcept {
        if (!data && count) return refuse(ZEBERR_BAD_PARAMETER);
        request_.bytes(data, count);
        return *this;
    }
    // A path: its length with the zero byte (16 bits), its bytes, the zero byte.
    ServiceCall& path(const char* text) noexcept {
        if (!text) return refuse(ZEBERR_BAD_PARAMETER);
        const size_t length = bounded_length(text, RequestCapacity);
        if (length >= RequestCapacity) return refuse(ZEBERR_PACKET_TOO_LARGE);
        request_.u16(static_cast<uint16_t>(length + 1)).bytes(text, length + 1);
        return *this;
    }

    // Sends the call and waits for its reply: 0, or why the call ended. Any nonzero result of
    // the exchange is its end, a Winsock number included.
    uint32_t send() noexcept {
        if (refusal_) return refusal_;
        return exchange(device_, request_, reply_, Wait::always, Warn::no);
    }
    ServiceReply reply() const noexcept { return view(reply_); }

    // Sends the call and delivers its reply (see deliver()).
    int32_t run(uint32_t* returned, std::initializer_list<Output> outputs = {}) noexcept {
        if (const uint32_t r = send()) return as_result(r);
        return deliver(reply(), returned, outputs);
    }

  private:
    ServiceCall& refuse(uint32_t why) noexcept {
        if (!refusal_) refusal_ = why;
        return *this;
    }

    ZEBDevice* device_;
    Request<RequestCapacity> request_;
    Reply<ReplyCapacity> reply_;
    uint32_t refusal_ = 0;
};

}  // namespace zeb::xcpu
