// The bytes a disc or disk image reader reads: a file, a stretch of one, the
// user data of a raw CD's sectors, or a file inside another image along its
// clusters. Each reader takes one of these and lists its files as stretches
// of it, so that images inside images are read the same way.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"

class ImageBytes {
 public:
  virtual ~ImageBytes() {}
  virtual uint64_t Size() const = 0;
  // Reads size bytes at offset; fewer only at the end.
  virtual bool ReadAt(uint64_t offset, uint8_t* data, size_t size, size_t* got, std::string* error) = 0;
  // Where these bytes begin in the run of bytes they are one stretch of
  // (*root, at *at): two names of the same bytes in an image locate alike.
  virtual void Locate(const void** root, uint64_t* at) const {
    *root = this;
    *at = 0;
  }
};

// size bytes of an open file from base on (cut to what the file holds).
class FileBytes final : public ImageBytes {
 public:
  FileBytes(std::shared_ptr<FileReader> file, uint64_t base, uint64_t size);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* data, size_t size, size_t* got, std::string* error) override;
  void Locate(const void** root, uint64_t* at) const override {
    *root = file_.get();
    *at = base_;
  }

 private:
  std::shared_ptr<FileReader> file_;
  uint64_t base_, size_;
};

// A stretch of some bytes: where it begins, how many bytes.
struct Extent {
  uint64_t offset;
  uint64_t size;
};

// Stretches of other bytes read one after another (a file along its
// clusters).
class ExtentBytes final : public ImageBytes {
 public:
  ExtentBytes(std::shared_ptr<ImageBytes> from, std::vector<Extent> extents);
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* data, size_t size, size_t* got, std::string* error) override;
  size_t Count() const { return extents_.size(); }  // a fragmented file has several
  void Locate(const void** root, uint64_t* at) const override;

 private:
  std::shared_ptr<ImageBytes> from_;
  std::vector<Extent> extents_;
  std::vector<uint64_t> starts_;  // of each extent, in the bytes read
  uint64_t size_ = 0;
};

// Reads exactly size bytes at offset; a shorter read is an error saying
// what ended (`what`: "the image ends inside its directories").
bool ReadExactly(ImageBytes* bytes, uint64_t offset, uint8_t* data, size_t size, const char* what,
                 std::string* error);
