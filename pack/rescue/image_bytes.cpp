#include "rescue/image_bytes.h"

#include <algorithm>

FileBytes::FileBytes(std::shared_ptr<FileReader> file, uint64_t base, uint64_t size)
    : file_(file), base_(base), size_(0) {
  uint64_t held = file_->Size();
  size_ = base >= held ? 0 : std::min(size, held - base);
}

bool FileBytes::ReadAt(uint64_t offset, uint8_t* data, size_t size, size_t* got, std::string* error) {
  *got = 0;
  if (offset >= size_) return true;
  return file_->ReadAt(base_ + offset, data, (size_t)std::min<uint64_t>(size, size_ - offset), got, error);
}

ExtentBytes::ExtentBytes(std::shared_ptr<ImageBytes> from, std::vector<Extent> extents)
    : from_(from), extents_(std::move(extents)) {
  for (const Extent& e : extents_) {
    starts_.push_back(size_);
    size_ += e.size;
  }
}

bool ExtentBytes::ReadAt(uint64_t offset, uint8_t* data, size_t size, size_t* got, std::string* error) {
  *got = 0;
  // The extent that holds offset: the last that starts at or before it.
  size_t i = std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin();
  for (i = i == 0 ? 0 : i - 1; i < extents_.size() && *got < size; ++i) {
    uint64_t at = offset + *got;
    if (at < starts_[i] || at - starts_[i] >= extents_[i].size) continue;
    uint64_t within = at - starts_[i];
    size_t want = (size_t)std::min<uint64_t>(size - *got, extents_[i].size - within);
    size_t read = 0;
    if (!from_->ReadAt(extents_[i].offset + within, data + *got, want, &read, error)) return false;
    *got += read;
    if (read < want) break;  // what the extents lie in ends early
  }
  return true;
}

void ExtentBytes::Locate(const void** root, uint64_t* at) const {
  if (extents_.size() != 1) return ImageBytes::Locate(root, at);
  from_->Locate(root, at);
  *at += extents_[0].offset;
}

bool ReadExactly(ImageBytes* bytes, uint64_t offset, uint8_t* data, size_t size, const char* what,
                 std::string* error) {
  size_t got = 0;
  if (!bytes->ReadAt(offset, data, size, &got, error)) return false;
  if (got < size) {
    *error = what;
    return false;
  }
  return true;
}
