#include "encode/segments.h"

#include <string.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "crc32.h"
#include "platform/file_io.h"
#include "platform/size_limit.h"

namespace {

// One segment on its way through a thread.
struct Segment {
  std::vector<uint8_t> data;
  bool continuesRing = false;  // the first of a file: its ring is known
  uint32_t ring[RingSize];     // at the start, then at the end
  std::vector<uint8_t> records;
  std::vector<RecordInfo> infos;
  bool done = false;
};

void PackOneSegment(EncoderState* state, Segment* segment) {
  if (segment->continuesRing) {
    memcpy(state->TokenRing, segment->ring, sizeof segment->ring);
  } else {
    std::fill(state->TokenRing, state->TokenRing + RingSize, UnknownToken);
  }
  PackSegment(state, segment->data.data(), segment->data.size(), &segment->records, &segment->infos);
  memcpy(segment->ring, state->TokenRing, sizeof segment->ring);
}

// Segments packed by worker threads, handed back in the order given. A
// worker that runs out of memory, or a thread that cannot start, fails the
// whole packing with the reason: no exception leaves a thread.
class SegmentPool {
 public:
  // Starts the threads; false with *error when one cannot start (those
  // started are stopped again).
  bool Start(unsigned threads, const EncoderOptions& options, std::string* error) {
    for (unsigned i = 0; i < threads; ++i) {
      try {
        workers_.emplace_back([this, options] { Work(options); });
      } catch (const std::system_error& e) {
        *error = std::string("cannot start a thread: ") + e.what();
        return false;
      } catch (const std::bad_alloc&) {
        *error = "out of memory";
        return false;
      }
    }
    return true;
  }
  ~SegmentPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      waiting_.clear();  // a failure stops the packing: what waits is dropped
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
  }
  void Give(Segment* segment) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waiting_.push_back(segment);
    }
    wake_.notify_one();
  }
  // False with *error when a worker failed: the segment may never be done.
  bool WaitFor(Segment* segment, std::string* error) {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this, segment] { return segment->done || !failure_.empty(); });
    if (segment->done) return true;
    *error = failure_;
    return false;
  }

 private:
  void Work(const EncoderOptions& options) {
    try {
      std::unique_ptr<EncoderState> state(new EncoderState());
      state->options = options;
      for (;;) {
        Segment* segment;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
          if (waiting_.empty()) return;
          segment = waiting_.front();
          waiting_.pop_front();
        }
        // No other thread looks at the segment until it is done.
        PackOneSegment(state.get(), segment);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          segment->done = true;
        }
        finished_.notify_all();
      }
    } catch (const std::bad_alloc&) {
      Fail("out of memory");
    } catch (const std::exception& e) {
      Fail(e.what());
    }
  }
  void Fail(const std::string& why) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failure_.empty()) failure_ = why;
    }
    finished_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  std::deque<Segment*> waiting_;
  bool stopping_ = false;
  std::string failure_;  // of the first worker that failed
  std::vector<std::thread> workers_;
};

// Records waiting for the check record that goes in front of them: in
// memory up to a bound, then in a scratch file.
class RecordSpill {
 public:
  explicit RecordSpill(const std::string& folder) : folder_(folder) {}
  bool Append(const std::vector<uint8_t>& bytes, std::string* error) {
    if (!file_ && memory_.size() + bytes.size() <= MemoryBound) {
      memory_.insert(memory_.end(), bytes.begin(), bytes.end());
      return true;
    }
    if (!file_) {
      file_.reset(new ScratchFile());
      if (!file_->Open(folder_, error) || !file_->Append(memory_.data(), memory_.size(), error)) return false;
      std::vector<uint8_t>().swap(memory_);
    }
    return file_->Append(bytes.data(), bytes.size(), error);
  }
  bool CopyTo(PackOutput* output, std::string* error) {
    if (!file_) return output->Write(memory_.data(), memory_.size(), error);
    if (!file_->Rewind(error)) return false;
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
      size_t got = 0;
      if (!file_->Read(buffer.data(), buffer.size(), &got, error)) return false;
      if (got == 0) return true;
      if (!output->Write(buffer.data(), got, error)) return false;
    }
  }

 private:
  static const size_t MemoryBound = (size_t)16 << 20;
  std::string folder_;
  std::vector<uint8_t> memory_;
  std::unique_ptr<ScratchFile> file_;
};

// Reads up to one segment; false on a read error.
bool ReadSegment(PackInput* input, std::vector<uint8_t>* data, std::string* error) {
  data->resize(PackSegmentSize);
  size_t filled = 0;
  while (filled < PackSegmentSize) {
    size_t got = 0;
    if (!input->Read(data->data() + filled, PackSegmentSize - filled, &got, error)) return false;
    if (got == 0) break;
    filled += got;
  }
  data->resize(filled);
  return true;
}

}  // namespace

unsigned AllProcessors() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

bool PackStream(EncoderState* state, PackInput* input, PackOutput* output, const PackStreamOptions& options,
                PackStreamResult* result, std::string* error) {
  const unsigned threads = std::max(1u, options.threads);
  // One thread packs on the calling thread; more are started, and keep two
  // segments each in flight so that none waits for the reading.
  const size_t inFlight = threads > 1 ? 2 * threads : 1;
  std::deque<std::unique_ptr<Segment>> segments;
  // Declared after the segments, so that its threads stop before they go.
  std::unique_ptr<SegmentPool> pool(threads > 1 ? new SegmentPool() : nullptr);
  if (pool && !pool->Start(threads, state->options, error)) return false;
  // The state's own ring is what the files so far left; segments are packed
  // in a state of their own, as the threads pack them.
  std::unique_ptr<EncoderState> own(pool ? nullptr : new EncoderState());
  if (own) own->options = state->options;
  RecordSpill spill(options.scratchFolder);
  std::vector<RecordInfo> infos;
  uint32_t crc = 0;
  uint64_t read = 0, packed = 0, done = 0;
  bool atEnd = false, first = true;

  while (!atEnd || !segments.empty()) {
    while (!atEnd && segments.size() < inFlight) {
      std::unique_ptr<Segment> segment(new Segment());
      if (!ReadSegment(input, &segment->data, error)) return false;
      if (segment->data.empty()) {
        atEnd = true;
        break;
      }
      read += segment->data.size();
      if (read > SizeLimit() - 1) {
        *error = options.inputName + ": 4 GiB or larger (pack files measure sizes in 32 bits)";
        return false;
      }
      atEnd = segment->data.size() < PackSegmentSize;
      crc = Crc32Update(crc, segment->data.data(), segment->data.size());
      segment->continuesRing = first;
      if (first) memcpy(segment->ring, state->TokenRing, sizeof segment->ring);
      first = false;
      if (pool) {
        pool->Give(segment.get());
      } else {
        PackOneSegment(own.get(), segment.get());
        segment->done = true;
      }
      segments.push_back(std::move(segment));
    }
    if (segments.empty()) break;
    Segment* next = segments.front().get();
    if (pool && !pool->WaitFor(next, error)) return false;
    if (next->continuesRing) {
      memcpy(state->TokenRing, next->ring, sizeof next->ring);
    } else {
      ContinueRing(state->TokenRing, next->ring);
    }
    infos.insert(infos.end(), next->infos.begin(), next->infos.end());
    packed += next->records.size();
    done += next->data.size();
    if (!spill.Append(next->records, error)) return false;
    segments.pop_front();
    if (options.progress) options.progress(options.progressContext, done);
  }
  pool.reset();

  std::vector<uint8_t> check;
  if (options.withCheck) AppendCheckRecord(&check, read, crc, infos);
  if (!output->Write(check.data(), check.size(), error) || !spill.CopyTo(output, error)) return false;
  result->crc = crc;
  result->expandedSize = read;
  result->packedSize = packed + check.size();
  return true;
}
