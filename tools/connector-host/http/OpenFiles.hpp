// connectorhost::OpenFiles: the descriptors that HTTP serving needs.
//
// prepareOpenFiles raises the process's soft limit on open files toward its hard limit, as far
// as the connection cap needs: the descriptors open now, those serving opens itself
// (`ownDescriptors`: the listening socket, the spare below, the event loops'), one per connection
// and a margin. It throws std::runtime_error when the limit leaves no descriptor for a single
// connection; when it leaves fewer than the cap needs, the result says so (the server then
// reclaims idle connections and refuses the rest with 503 when descriptors run out). Call it
// before serving opens anything.
//
// SpareDescriptor holds one descriptor back (on /dev/null), so that when the process runs out,
// it can be given up for a moment to accept a waiting client and refuse it at once, instead of
// leaving the client hanging in the listen queue. Threads: one owner.
#pragma once

#include <cstddef>

namespace connectorhost {

struct OpenFilesLimit {
    std::size_t limit;   // the soft limit now
    std::size_t needed;  // what the cap needs
};

[[nodiscard]] OpenFilesLimit prepareOpenFiles(std::size_t maxConnections,
                                              std::size_t ownDescriptors);

class SpareDescriptor {
  public:
    SpareDescriptor();
    ~SpareDescriptor();
    SpareDescriptor(const SpareDescriptor&) = delete;
    SpareDescriptor& operator=(const SpareDescriptor&) = delete;

    // release: gives the descriptor up; false when there was none to give.
    bool release() noexcept;
    // restore: takes one back (when a descriptor is free again).
    void restore() noexcept;

  private:
    int descriptor = -1;
};

}  // namespace connectorhost
