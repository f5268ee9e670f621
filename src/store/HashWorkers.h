#pragma once
// A fixed set of hashing threads, started once and kept for the program's life, that hash the files
// of each analysis ahead of the one thread that takes the digests, in list order. Each worker reads
// a whole file on its own thread and hands over one digest: a file costs one hand-off, not one per
// block, and a run creates as many threads however many files it hashes. A worker with no file to
// start reads ahead for one hashing a large file, so a lone large file uses two cores. Workers only read files
// and compute digests; whoever takes them does everything else (the window, the database), so
// nothing else is shared between threads.

#include "store/Sha1.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace velmora {

class ReadRelay;

class HashWorkers {
public:
  // The threads start with the first list that has files to hash.
  explicit HashWorkers(unsigned threads = DefaultThreads());
  // Ends the lists still open and joins the threads.
  ~HashWorkers();
  HashWorkers(const HashWorkers&) = delete;
  HashWorkers& operator=(const HashWorkers&) = delete;

  // One analysis's files, hashed by the workers while it lives. Ending it abandons the files not
  // taken: a file being read is left after its current block, and the end waits for that, so no
  // worker touches the list (or its `afterEachBlock`) afterwards.
  class List {
  public:
    ~List();
    List(const List&) = delete;
    List& operator=(const List&) = delete;

    // The digest of `files[job]`, waiting until a worker has it; `whileWaiting` runs every
    // `interval` meanwhile. Files before `job` that were not taken are given up. Jobs are taken in
    // rising order.
    FileDigest Take(std::size_t job, const std::function<void()>& whileWaiting, std::chrono::milliseconds interval);

  private:
    friend class HashWorkers;
    List(HashWorkers& pool, std::vector<std::string> files, std::size_t ahead, std::function<void()> afterEachBlock);
    bool HasWork();

    HashWorkers& pool_;
    const std::vector<std::string> files_;
    const std::size_t ahead_;
    const std::function<void()> afterEachBlock_;
    std::stop_source stop_;
    // Guarded by the pool's mutex:
    std::vector<std::optional<FileDigest>> digests_;
    std::size_t next_ = 0;    // the next file a worker starts
    std::size_t wanted_ = 0;  // files before it are taken or given up
    std::size_t reading_ = 0; // workers inside one of its files
  };

  // Hands `files` to the workers. At most `ahead` files past the last one taken are hashed or
  // held, so the work done for an analysis that ends early stays bounded. `afterEachBlock` runs on
  // a worker after every block it reads (tests change files there). Lists opened while another
  // is open (a nested analysis) are served first.
  [[nodiscard]] std::unique_ptr<List> Start(std::vector<std::string> files, std::size_t ahead,
                                            std::function<void()> afterEachBlock = {});

  unsigned threads() const { return threadCount_; }
  // One worker per core.
  static unsigned DefaultThreads();

private:
  void Work();
  List* NextWithWork(); // with mutex_ held

  const unsigned threadCount_;
  std::mutex mutex_;
  std::condition_variable workAvailable_; // a list got files to start, or the pool ends
  std::condition_variable progressed_;    // a digest is ready, or a worker left a file
  std::vector<List*> lists_;              // open lists, the newest last
  std::vector<ReadRelay*> wantHelp_;      // workers hashing a large file, for an idle one to read ahead
  bool quitting_ = false;
  // Last, so the threads stop before the state above goes.
  std::vector<std::jthread> threads_;
};

} // namespace velmora
