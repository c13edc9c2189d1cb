#include "expand/source.h"

#include <string.h>

#include <algorithm>

#include "platform/size_limit.h"

PackedSource::PackedSource() = default;
PackedSource::~PackedSource() = default;

bool PackedSource::Open(const std::string& path, PackedBytesWatcher* watcher, std::string* error) {
  name_ = DisplayName(path, true);
  if (!file_.Open(path, error)) return false;
  watcher_ = watcher;
  if (file_.SizeKnown()) {
    size_ = (uint32_t)file_.Size();
    return true;
  }
  // A pipe: its bytes are put aside, and its size is then known.
  ownScratch_.reset(new ScratchFile());
  scratch_ = ownScratch_.get();
  if (!scratch_->Open("", error)) return false;
  std::vector<uint8_t> buffer(1 << 20);
  uint64_t total = 0;
  for (;;) {
    size_t got = 0;
    if (!file_.Read(buffer.data(), buffer.size(), &got, error)) return false;
    if (got == 0) break;
    total += got;
    if (total >= SizeLimit()) {
      *error = name_ + ": 4 GiB or larger (pack files measure sizes in 32 bits)";
      return false;
    }
    if (watcher_) watcher_->Watch(buffer.data(), got);
    if (!scratch_->Append(buffer.data(), got, error)) return false;
  }
  size_ = (uint32_t)total;
  if (watcher_) watcher_->End();
  watcher_ = nullptr;
  return scratch_->Rewind(error);
}

bool PackedSource::OpenScratch(ScratchFile* scratch, uint64_t size, std::string* error) {
  name_ = "the packed copy";
  scratch_ = scratch;
  size_ = (uint32_t)size;
  return scratch_->Rewind(error);
}

void PackedSource::OpenMemory(const uint8_t* data, size_t size) {
  memory_ = data;
  size_ = (uint32_t)size;
  at_ = 0;
}

bool PackedSource::Rewind(std::string* error) {
  at_ = 0;
  // Only the first reading is watched.
  watcher_ = nullptr;
  if (memory_) return true;
  if (scratch_) return scratch_->Rewind(error);
  return file_.Rewind(error);
}

bool PackedSource::ReadMore(uint8_t* buffer, size_t size, size_t* got) {
  return scratch_ ? scratch_->Read(buffer, size, got, &readError_)
                  : file_.Read(buffer, size, got, &readError_);
}

uint32_t PackedSource::Read(uint8_t* buffer, uint32_t size) {
  uint32_t done = 0;
  if (memory_) {
    done = (uint32_t)std::min<uint64_t>(size, size_ - std::min<uint64_t>(at_, size_));
    memcpy(buffer, memory_ + at_, done);
  }
  while (!memory_ && done < size && readError_.empty()) {
    size_t got = 0;
    if (!ReadMore(buffer + done, size - done, &got) || got == 0) break;
    done += (uint32_t)got;
  }
  at_ += done;
  ranShort_ = ranShort_ || done < size;
  if (watcher_) {
    watcher_->Watch(buffer, done);
    if (at_ >= size_) {
      watcher_->End();
      watcher_ = nullptr;
    }
  }
  return done;
}

bool PackedSource::ReadWhole() {
  std::string why;
  if (!Rewind(&why)) {
    readError_ = why;
    return false;
  }
  whole_.resize(size_);
  if (Read(whole_.data(), size_) != size_) {
    if (readError_.empty()) readError_ = name_ + ": changed while it was read";
    return false;
  }
  return true;
}
