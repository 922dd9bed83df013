#include "update/binary_patch.h"

#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/files.h"

namespace patch {
namespace {

constexpr int64_t kChunk = 1 << 20;

void PutU64(unsigned char* at, uint64_t v) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint64_t GetU64(const unsigned char* at) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | at[i];
  return v;
}

struct FileCloser {
  void operator()(FILE* f) const {
    if (f) fclose(f);
  }
};
using File = std::unique_ptr<FILE, FileCloser>;

// One compressed stream of the patch, read from a handle of its own and decompressed on demand.
class Stream {
 public:
  Stream() : ctx_(ZSTD_createDStream()), input_(ZSTD_DStreamInSize()), output_(1 << 16) {
    if (ctx_) ZSTD_DCtx_setParameter(ctx_, ZSTD_d_windowLogMax, kWindowLog);
  }
  ~Stream() { ZSTD_freeDStream(ctx_); }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  bool open(const std::wstring& path, uint64_t offset, uint64_t size) {
    file_.reset(OpenFile(path, L"rb"));
    left_ = size;
    return ctx_ && file_ && SeekFile(file_.get(), static_cast<int64_t>(offset), SEEK_SET);
  }
  // Exactly n bytes, or false: the stream is damaged or ends early.
  bool read(unsigned char* out, size_t n) {
    while (n > 0) {
      if (at_ == have_ && !fill()) return false;
      size_t k = std::min(n, have_ - at_);
      memcpy(out, output_.data() + at_, k);
      at_ += k;
      out += k;
      n -= k;
    }
    return true;
  }
  // The next byte; false at the end of the stream or on damage (damaged() tells them apart).
  bool next(unsigned char& byte) {
    if (at_ == have_ && !fill()) return false;
    byte = output_[at_++];
    return true;
  }
  bool damaged() const { return damaged_; }
  // Whether everything was read: the frame complete, nothing after it, no compressed byte left.
  bool atEnd() { return at_ == have_ && !fill() && !damaged_; }

 private:
  ZSTD_DStream* ctx_;
  File file_;
  uint64_t left_ = 0;
  std::vector<unsigned char> input_, output_;
  ZSTD_inBuffer in_{nullptr, 0, 0};
  size_t at_ = 0, have_ = 0;
  bool ended_ = false, damaged_ = false;

  // Decompresses the next piece; false when there is none (the end, or damage).
  bool fill() {
    at_ = have_ = 0;
    if (ended_) {
      damaged_ = damaged_ || in_.pos < in_.size || left_ > 0;  // bytes after the frame
      return false;
    }
    ZSTD_outBuffer target{output_.data(), output_.size(), 0};
    while (target.pos == 0 && !ended_) {
      if (in_.pos == in_.size) {
        size_t want = left_ < input_.size() ? static_cast<size_t>(left_) : input_.size();
        if (want == 0 || fread(input_.data(), 1, want, file_.get()) != want) {
          damaged_ = true;  // cut before the frame's end
          return false;
        }
        left_ -= want;
        in_ = ZSTD_inBuffer{input_.data(), want, 0};
      }
      size_t status = ZSTD_decompressStream(ctx_, &target, &in_);
      if (ZSTD_isError(status)) {
        damaged_ = true;
        return false;
      }
      ended_ = status == 0;
    }
    have_ = target.pos;
    if (have_ == 0) return fill();  // the frame ended with this call
    return true;
  }
};

// The differences to add to the old bytes: zero mostly, so they travel as the gaps between
// nonzero differences (LEB128 numbers) and those differences' values, in two streams.
class Differences {
 public:
  Differences(Stream& gaps, Stream& values) : gaps_(gaps), values_(values) { more_ = nextGap(); }
  // The next n differences into out; false when the patch is damaged.
  bool take(unsigned char* out, size_t n) {
    size_t i = 0;
    while (i < n) {
      if (!more_ || zeros_ >= n - i) {
        memset(out + i, 0, n - i);
        if (more_) zeros_ -= n - i;
        return true;
      }
      memset(out + i, 0, static_cast<size_t>(zeros_));
      i += static_cast<size_t>(zeros_);
      unsigned char value;
      if (!values_.next(value) || value == 0) return false;
      out[i++] = value;
      more_ = nextGap();
      if (gaps_.damaged() || cut_) return false;
    }
    return true;
  }
  // Whether every difference was used.
  bool used() { return !more_ && !cut_ && !gaps_.damaged() && values_.atEnd(); }

 private:
  Stream& gaps_;
  Stream& values_;
  uint64_t zeros_ = 0;
  bool more_ = false, cut_ = false;

  bool nextGap() {
    zeros_ = 0;
    unsigned char byte;
    for (int shift = 0; shift < 63; shift += 7) {
      if (!gaps_.next(byte)) {
        cut_ = cut_ || shift > 0;
        return false;
      }
      zeros_ |= static_cast<uint64_t>(byte & 0x7F) << shift;
      if (!(byte & 0x80)) return true;
    }
    cut_ = true;
    return false;
  }
};

// The old file's bytes [from, from + n) added onto out; positions outside the file add nothing.
bool AddOld(FILE* old, int64_t oldSize, int64_t from, unsigned char* out, size_t n, std::vector<unsigned char>& buffer) {
  int64_t start = from < 0 ? 0 : from;
  int64_t end = from + static_cast<int64_t>(n);
  if (end > oldSize) end = oldSize;
  if (start >= end) return true;
  size_t count = static_cast<size_t>(end - start);
  if (!SeekFile(old, start, SEEK_SET) || fread(buffer.data(), 1, count, old) != count) return false;
  unsigned char* target = out + (start - from);
  for (size_t i = 0; i < count; ++i) target[i] = static_cast<unsigned char>(target[i] + buffer[i]);
  return true;
}

}  // namespace

void WriteHeader(const Header& header, unsigned char (&bytes)[kHeaderSize]) {
  memcpy(bytes, kMagic, sizeof kMagic);
  const uint64_t fields[6] = {header.oldSize,  header.newSize,    header.controlSize,
                              header.gapsSize, header.valuesSize, header.extraSize};
  for (int i = 0; i < 6; ++i) PutU64(bytes + 8 + 8 * i, fields[i]);
}

bool ReadHeader(const unsigned char (&bytes)[kHeaderSize], Header& header) {
  if (memcmp(bytes, kMagic, sizeof kMagic) != 0) return false;
  uint64_t* fields[6] = {&header.oldSize,  &header.newSize,    &header.controlSize,
                         &header.gapsSize, &header.valuesSize, &header.extraSize};
  constexpr uint64_t kMost = uint64_t(1) << 50;  // sizes beyond any game file: a damaged header
  for (int i = 0; i < 6; ++i) {
    *fields[i] = GetU64(bytes + 8 + 8 * i);
    if (*fields[i] >= kMost) return false;
  }
  return true;
}

std::string Apply(const std::wstring& oldPath, const std::wstring& patchPath, const std::wstring& newPath,
                  std::atomic<int64_t>* bytesDone) {
  File patchFile(OpenFile(patchPath, L"rb"));
  if (!patchFile) return "the patch does not open";
  unsigned char headerBytes[kHeaderSize];
  Header header;
  if (fread(headerBytes, 1, kHeaderSize, patchFile.get()) != kHeaderSize || !ReadHeader(headerBytes, header))
    return "not a patch";
  SeekFile(patchFile.get(), 0, SEEK_END);
  const uint64_t streams = header.controlSize + header.gapsSize + header.valuesSize + header.extraSize;
  if (static_cast<uint64_t>(TellFile(patchFile.get())) != kHeaderSize + streams) return "the patch is cut or too long";
  patchFile.reset();

  File old(OpenFile(oldPath, L"rb"));
  if (!old) return "the base file does not open";
  SeekFile(old.get(), 0, SEEK_END);
  const int64_t oldSize = TellFile(old.get());
  if (oldSize < 0 || static_cast<uint64_t>(oldSize) != header.oldSize) return "the base file has another size";

  Stream control, gaps, values, extra;
  uint64_t at = kHeaderSize;
  if (!control.open(patchPath, at, header.controlSize) || !gaps.open(patchPath, at += header.controlSize, header.gapsSize) ||
      !values.open(patchPath, at += header.gapsSize, header.valuesSize) ||
      !extra.open(patchPath, at += header.valuesSize, header.extraSize))
    return "the patch does not open";
  Differences diff(gaps, values);
  File out(OpenFile(newPath, L"wb"));
  if (!out) return "the result cannot be created";

  const int64_t newSize = static_cast<int64_t>(header.newSize);
  // No larger than the result: most patched files are small.
  const int64_t block = std::max<int64_t>(1, std::min<int64_t>(kChunk, newSize));
  std::vector<unsigned char> chunk(static_cast<size_t>(block)), oldBytes(static_cast<size_t>(block));
  int64_t newPos = 0, oldPos = 0;
  auto emit = [&](size_t n) {
    if (fwrite(chunk.data(), 1, n, out.get()) != n) return false;
    newPos += static_cast<int64_t>(n);
    if (bytesDone) *bytesDone += static_cast<int64_t>(n);
    return true;
  };
  while (newPos < newSize) {
    unsigned char triple[24];
    if (!control.read(triple, sizeof triple)) return "the patch is damaged (control)";
    const int64_t add = static_cast<int64_t>(GetU64(triple));
    const int64_t copy = static_cast<int64_t>(GetU64(triple + 8));
    const int64_t seek = static_cast<int64_t>(GetU64(triple + 16));
    constexpr int64_t kFar = int64_t(1) << 52;
    if (add < 0 || copy < 0 || add > newSize - newPos || copy > newSize - newPos - add || seek < -kFar || seek > kFar)
      return "the patch is damaged (control)";
    for (int64_t done = 0; done < add;) {
      size_t n = static_cast<size_t>(std::min(add - done, block));
      if (!diff.take(chunk.data(), n)) return "the patch is damaged (differences)";
      if (!AddOld(old.get(), oldSize, oldPos + done, chunk.data(), n, oldBytes)) return "the base file cannot be read";
      if (!emit(n)) return "the result cannot be written";
      done += static_cast<int64_t>(n);
    }
    for (int64_t done = 0; done < copy;) {
      size_t n = static_cast<size_t>(std::min(copy - done, block));
      if (!extra.read(chunk.data(), n)) return "the patch is damaged (extra)";
      if (!emit(n)) return "the result cannot be written";
      done += static_cast<int64_t>(n);
    }
    oldPos += add + seek;
    if (oldPos < -kFar || oldPos > kFar) return "the patch is damaged (control)";
  }
  if (!control.atEnd() || !diff.used() || !extra.atEnd()) return "the patch is damaged (data left over)";
  if (fflush(out.get()) != 0) return "the result cannot be written";
  return "";
}

}  // namespace patch
