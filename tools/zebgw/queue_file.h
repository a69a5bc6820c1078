// The queue's file, kept while the broker is away so that a restart loses nothing that waited:
// a head (a mark, then where the first record not known to be delivered starts), then records,
// each its length, its CRC-32 and its bytes. Records are added at the end and read from the
// front. The file never grows past its bound: when it is full, the oldest quarter of its records
// is dropped, and delivered ones are cut off the front when only that makes room. A record that
// does not read whole at open (a power cut as it was written) ends the queue there and is counted.
//
// One thread owns a QueueFile; it takes no locks.
#pragma once

#include <cstdint>
#include <string>

namespace zebgw {

class QueueFile {
  public:
    static constexpr uint64_t kHeadSize = 16;
    static constexpr uint64_t kRecordHeadSize = 8;
    // The smallest bound that leaves room for records of a useful size.
    static constexpr uint64_t kMinBytes = 4096;

    QueueFile() = default;
    ~QueueFile();
    QueueFile(const QueueFile&) = delete;
    QueueFile& operator=(const QueueFile&) = delete;

    // Opens or makes the file. False, with the reason, when it cannot be had or holds
    // something other than a queue.
    bool open(const std::string& path, uint64_t max_bytes, std::string* error);
    // Whether `path` may serve as a queue file: absent in a folder we may write, empty, or a
    // queue file we may read and write. Nothing is changed.
    static bool usable(const std::string& path, std::string* error);

    // Records dropped at open because they did not read whole.
    uint64_t torn() const { return torn_; }

    // Adds a record at the end. Returns how many records were dropped for it: the oldest, to
    // make room, or the record itself when it could never fit.
    uint64_t append(const std::string& record);
    // The next record not read yet, and where it starts; false when all are read.
    bool read(std::string* record, uint64_t* at);
    // Everything before `at` is delivered, and what is from `at` on is to be read (again).
    void resume_from(uint64_t at);
    // Everything before `at` is delivered: a restart does not send it again. When everything
    // is, the file is emptied.
    void delivered_up_to(uint64_t at);

    uint64_t unread() const { return unread_; }
    // Nothing in it waits for delivery.
    bool empty() const { return first_ == end_; }
    uint64_t read_position() const { return next_; }
    // Writes what was appended through to the disk, when there is any.
    void sync();
    // The last failure to write, read or sync: said once by the caller.
    const std::string& failure() const { return failure_; }

  private:
    bool write_head();
    bool read_record(uint64_t at, std::string* record, uint64_t* length) const;
    uint64_t record_length(uint64_t at) const;  // 0 when no whole record starts at `at`
    bool compact();
    bool fail(const char* what);

    int fd_ = -1;
    std::string path_;
    uint64_t max_ = 0;
    uint64_t first_ = kHeadSize;  // the first record not known to be delivered
    uint64_t next_ = kHeadSize;   // the next record to read
    uint64_t end_ = kHeadSize;
    uint64_t unread_ = 0;  // records from next_ to end_
    uint64_t torn_ = 0;
    bool dirty_ = false;
    std::string failure_;
};

uint32_t crc32(const void* data, size_t size);

}  // namespace zebgw
