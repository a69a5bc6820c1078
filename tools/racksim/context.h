// What a request handler can reach besides the request itself: the rack (other modules), its
// own module, the faults in force for the request, its manner, a millisecond clock and a file
// store.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "bytes.h"

namespace racksim {

class Rack;
struct Module;
struct Faults;
struct Manner;

// Milliseconds for a module's own timing: the steady clock when served over UDP, the virtual
// clock of a simulated network in tests.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint64_t now_ms() const = 0;
};

class SteadyClock final : public Clock {
  public:
    uint64_t now_ms() const override;
};

// Files a module keeps (a controller module's files), whole contents at a time, by name.
class FileStore {
  public:
    virtual ~FileStore() = default;
    // False when there is no such file.
    virtual bool read(const std::string& name, Bytes* contents) const = 0;
    virtual void write(const std::string& name, Bytes contents) = 0;
    // False when there was no such file.
    virtual bool remove(const std::string& name) = 0;
    virtual std::vector<std::string> names() const = 0;
};

// Files that live as long as the rack.
class MemoryStore final : public FileStore {
  public:
    bool read(const std::string& name, Bytes* contents) const override;
    void write(const std::string& name, Bytes contents) override;
    bool remove(const std::string& name) override;
    std::vector<std::string> names() const override;

  private:
    std::map<std::string, Bytes> files_;
};

struct Execution;

struct Context {
    Rack& rack;
    Module& module;
    const Faults& faults;  // the module's, or its entry for the request's function code
    const Manner& manner;  // how the module answers this request
    const Clock& clock;
    FileStore& files;
    bool log_wanted = true;      // whether anything will print the execution's log text
    Execution* spare = nullptr;  // storage of an earlier execution that a handler may reuse
};

}  // namespace racksim
