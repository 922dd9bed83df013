#include "tools/patch_maker.h"

#include <divsufsort.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "update/binary_patch.h"

namespace patch {
namespace {

// One stream being compressed into a string as its bytes come.
class Compressor {
 public:
  explicit Compressor(int level) : ctx_(ZSTD_createCCtx()) {
    if (!ctx_) throw std::bad_alloc();
    ZSTD_CCtx_setParameter(ctx_, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(ctx_, ZSTD_c_windowLog, kWindowLog);
    ZSTD_CCtx_setParameter(ctx_, ZSTD_c_checksumFlag, 0);
    pending_.reserve(1 << 20);
  }
  ~Compressor() { ZSTD_freeCCtx(ctx_); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  void put(const unsigned char* data, size_t n) {
    pending_.insert(pending_.end(), data, data + n);
    count_ += n;
    if (pending_.size() >= (1 << 20)) push(ZSTD_e_continue);
  }
  void put(unsigned char byte) { put(&byte, 1); }
  std::string finish() {
    push(ZSTD_e_end);
    return std::move(out_);
  }
  uint64_t count() const { return count_; }

 private:
  void push(ZSTD_EndDirective mode) {
    ZSTD_inBuffer in{pending_.data(), pending_.size(), 0};
    std::vector<unsigned char> buffer(ZSTD_CStreamOutSize());
    for (;;) {
      ZSTD_outBuffer out{buffer.data(), buffer.size(), 0};
      size_t left = ZSTD_compressStream2(ctx_, &out, &in, mode);
      if (ZSTD_isError(left)) throw std::runtime_error(ZSTD_getErrorName(left));
      out_.append(reinterpret_cast<const char*>(buffer.data()), out.pos);
      if (mode == ZSTD_e_end ? left == 0 : in.pos == in.size) break;
    }
    pending_.clear();
  }

  ZSTD_CCtx* ctx_;
  std::vector<unsigned char> pending_;
  std::string out_;
  uint64_t count_ = 0;
};

int64_t MatchLength(const unsigned char* a, int64_t aSize, const unsigned char* b, int64_t bSize) {
  int64_t n = std::min(aSize, bSize), i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// memcmp in short pieces: the answer comes at the first difference, and a sanitizer's check of
// the whole range on every call would make the search quadratic.
int Compare(const unsigned char* a, const unsigned char* b, int64_t n) {
  for (int64_t at = 0; at < n; at += 64) {
    int c = memcmp(a + at, b + at, static_cast<size_t>(std::min<int64_t>(64, n - at)));
    if (c != 0) return c;
  }
  return 0;
}

// Which 8-byte strings the old file holds, by a hash of each into a bit array: a position of the
// new file whose next 8 bytes are not there has no match worth a search (new data, such as an
// inserted block, would otherwise cost a search at every byte). False positives only cost a search.
class Grams {
 public:
  explicit Grams(const unsigned char* data, int64_t size) {
    while (bits_ < 32 && (int64_t(1) << bits_) < size * 4) ++bits_;
    words_.assign((size_t(1) << bits_) / 64 + 1, 0);
    for (int64_t i = 0; i + 8 <= size; ++i) {
      uint64_t h = hash(data + i);
      words_[h / 64] |= uint64_t(1) << (h % 64);
    }
  }
  bool mayHold(const unsigned char* at) const {
    uint64_t h = hash(at);
    return (words_[h / 64] >> (h % 64)) & 1;
  }

 private:
  int bits_ = 10;
  std::vector<uint64_t> words_;
  uint64_t hash(const unsigned char* at) const {
    uint64_t v;
    memcpy(&v, at, 8);
    return (v * 0x9E3779B97F4A7C15ull) >> (64 - bits_);
  }
};

// The longest match of target in the old data, by binary search over its sorted suffixes. A
// suffix that is a whole prefix of the target sorts before it: taken as "not less" (as a plain
// memcmp of the shorter length has it), the search ends at the shortest such suffix, and repetitive
// data (runs of zeros, repeated records) then gives matches of a few bytes, each bought with a
// search that compares megabytes.
int64_t Search(const std::vector<saidx_t>& sa, const unsigned char* old, int64_t oldSize, const unsigned char* target,
               int64_t targetSize, int64_t& pos) {
  int64_t st = 0, en = static_cast<int64_t>(sa.size()) - 1;
  while (en - st >= 2) {
    int64_t x = st + (en - st) / 2;
    int64_t n = std::min(oldSize - sa[x], targetSize);
    int c = Compare(old + sa[x], target, n);
    if (c < 0 || (c == 0 && oldSize - sa[x] < targetSize)) {
      st = x;
    } else {
      en = x;
    }
  }
  int64_t a = MatchLength(old + sa[st], oldSize - sa[st], target, targetSize);
  int64_t b = MatchLength(old + sa[en], oldSize - sa[en], target, targetSize);
  pos = a > b ? sa[st] : sa[en];
  return std::max(a, b);
}

void PutI64(Compressor& c, int64_t v) {
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(v) >> (8 * i));
  c.put(bytes, 8);
}

}  // namespace

std::string MakePatch(const std::vector<unsigned char>& oldData, const std::vector<unsigned char>& newData, int level,
                      MadeStats* stats) {
  if (oldData.size() > kMostBase) throw std::length_error("the base is too large for a patch");
  const unsigned char* old = oldData.data();
  const unsigned char* cur = newData.data();
  const int64_t oldSize = static_cast<int64_t>(oldData.size()), newSize = static_cast<int64_t>(newData.size());
  std::vector<saidx_t> sa(oldData.empty() ? 1 : oldData.size());
  if (!oldData.empty() && divsufsort(old, sa.data(), static_cast<saidx_t>(oldSize)) != 0)
    throw std::runtime_error("suffix sorting failed");

  const Grams grams(old, oldSize);
  Compressor control(level), gaps(level), values(level), extra(level);
  uint64_t diffBytes = 0, zeros = 0;
  auto difference = [&](unsigned char d) {
    ++diffBytes;
    if (d == 0) {
      ++zeros;
      return;
    }
    unsigned char number[10];
    size_t n = 0;
    for (; zeros >= 0x80; zeros >>= 7) number[n++] = static_cast<unsigned char>(zeros | 0x80);
    number[n++] = static_cast<unsigned char>(zeros);
    gaps.put(number, n);
    values.put(d);
    zeros = 0;
  };
  uint64_t triples = 0, searches = 0;
  // The scan of bsdiff 4: a new match is taken only when it is clearly better than carrying on
  // with the old offset; the stretch between two matches is split into a forward extension of the
  // last match, new bytes, and a backward extension of the next one.
  int64_t scan = 0, len = 0, pos = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
  while (scan < newSize) {
    int64_t oldScore = 0;
    int64_t scsc = scan += len;
    for (; scan < newSize; ++scan) {
      const bool worthSearching = oldSize > 0 && (newSize - scan < 8 || grams.mayHold(cur + scan));
      len = worthSearching ? Search(sa, old, oldSize, cur + scan, newSize - scan, pos) : 0;
      searches += worthSearching;
      for (; scsc < scan + len; ++scsc)
        if (scsc + lastOffset < oldSize && scsc + lastOffset >= 0 && old[scsc + lastOffset] == cur[scsc]) ++oldScore;
      if ((len == oldScore && len != 0) || len > oldScore + 8) break;
      if (scan + lastOffset < oldSize && scan + lastOffset >= 0 && old[scan + lastOffset] == cur[scan]) --oldScore;
    }
    if (len == oldScore && scan != newSize) continue;

    int64_t s = 0, bestForward = 0, lenForward = 0;
    for (int64_t i = 0; lastScan + i < scan && lastPos + i < oldSize;) {
      if (old[lastPos + i] == cur[lastScan + i]) ++s;
      ++i;
      if (s * 2 - i > bestForward * 2 - lenForward) {
        bestForward = s;
        lenForward = i;
      }
    }
    int64_t lenBack = 0;
    if (scan < newSize) {
      int64_t best = 0;
      s = 0;
      for (int64_t i = 1; scan >= lastScan + i && pos >= i; ++i) {
        if (old[pos - i] == cur[scan - i]) ++s;
        if (s * 2 - i > best * 2 - lenBack) {
          best = s;
          lenBack = i;
        }
      }
    }
    if (lastScan + lenForward > scan - lenBack) {
      int64_t overlap = (lastScan + lenForward) - (scan - lenBack);
      int64_t best = 0, lenSplit = 0;
      s = 0;
      for (int64_t i = 0; i < overlap; ++i) {
        if (cur[lastScan + lenForward - overlap + i] == old[lastPos + lenForward - overlap + i]) ++s;
        if (cur[scan - lenBack + i] == old[pos - lenBack + i]) --s;
        if (s > best) {
          best = s;
          lenSplit = i + 1;
        }
      }
      lenForward += lenSplit - overlap;
      lenBack -= lenSplit;
    }
    for (int64_t i = 0; i < lenForward; ++i)
      difference(static_cast<unsigned char>(cur[lastScan + i] - old[lastPos + i]));
    const int64_t newBytes = (scan - lenBack) - (lastScan + lenForward);
    if (newBytes > 0) extra.put(cur + lastScan + lenForward, static_cast<size_t>(newBytes));
    PutI64(control, lenForward);
    PutI64(control, newBytes);
    PutI64(control, (pos - lenBack) - (lastPos + lenForward));
    ++triples;
    lastScan = scan - lenBack;
    lastPos = pos - lenBack;
    lastOffset = pos - scan;
  }

  Header header;
  header.oldSize = oldData.size();
  header.newSize = newData.size();
  const uint64_t extraBytes = extra.count();
  std::string controlStream = control.finish(), gapsStream = gaps.finish(), valuesStream = values.finish(),
              extraStream = extra.finish();
  header.controlSize = controlStream.size();
  header.gapsSize = gapsStream.size();
  header.valuesSize = valuesStream.size();
  header.extraSize = extraStream.size();
  unsigned char head[kHeaderSize];
  WriteHeader(header, head);
  std::string result(reinterpret_cast<const char*>(head), kHeaderSize);
  for (const std::string* stream : {&controlStream, &gapsStream, &valuesStream, &extraStream}) result += *stream;
  if (stats) *stats = MadeStats{result.size(), diffBytes, extraBytes, triples, searches};
  return result;
}

}  // namespace patch
