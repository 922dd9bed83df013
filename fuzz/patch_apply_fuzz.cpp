// Arbitrary bytes as a binary patch of a fixed old file. Applying it either fails or gives a file
// of exactly the size the header announces, and never writes more than that size, whatever the
// streams say. An input whose header is sound but whose length is not is tried a second time
// with the last stream's size made to fit, so that cut and lengthened streams reach the decoder.
// Most mutations are made to a patch's streams before compression (the custom mutator below),
// so that the control numbers, gaps and differences themselves are explored, not just damaged
// zstd frames.
#include <zstd.h>

#include <cstring>
#include <random>

#include "fuzz_common.h"
#include "update/binary_patch.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

// The old file: 1500 bytes, text with runs and noise, the same on every run (the seeds are
// patches of it).
const std::string& OldBytes() {
  static const std::string bytes = [] {
    std::string b;
    uint32_t state = 12345;
    for (size_t i = 0; b.size() < 1500; ++i) {
      if (i % 3 == 0) {
        b += "vorel data block " + std::to_string(i) + "\n";
      } else {
        state = state * 1103515245u + 12345u;
        b += static_cast<char>(state >> 16);
      }
    }
    b.resize(1500);
    return b;
  }();
  return bytes;
}

void ApplyOnce(const fs::path& root, const uint8_t* data, size_t size) {
  const fs::path patchPath = root / "patch.vp", newPath = root / "new.bin";
  fs::remove(newPath);
  fuzz::WriteBytes(patchPath, data, size);
  std::atomic<int64_t> done{0};
  const std::string problem = patch::Apply(fuzz::Wide(root / "old.bin"), fuzz::Wide(patchPath), fuzz::Wide(newPath), &done);

  patch::Header header;
  unsigned char head[patch::kHeaderSize];
  const bool sound = size >= patch::kHeaderSize && (memcpy(head, data, sizeof head), patch::ReadHeader(head, header));
  if (!sound) {
    fuzz::Require(!problem.empty());
    return;
  }
  std::error_code error;
  const uintmax_t written = fs::exists(newPath) ? fs::file_size(newPath, error) : 0;
  fuzz::Require(!error && written <= header.newSize && static_cast<uintmax_t>(done.load()) == written);
  if (problem.empty()) fuzz::Require(header.oldSize == OldBytes().size() && written == header.newSize);
}

}  // namespace

namespace {

constexpr size_t kMostStream = 1 << 16;  // decompressed, for the mutator's own use

// A patch's header and decompressed streams; false for anything else.
bool Unpack(const uint8_t* data, size_t size, patch::Header& header, std::string (&streams)[4]) {
  static ZSTD_DCtx* context = ZSTD_createDCtx();
  unsigned char head[patch::kHeaderSize];
  if (size < sizeof head) return false;
  memcpy(head, data, sizeof head);
  if (!patch::ReadHeader(head, header)) return false;
  const uint64_t sizes[4] = {header.controlSize, header.gapsSize, header.valuesSize, header.extraSize};
  size_t at = sizeof head;
  for (int i = 0; i < 4; ++i) {
    if (sizes[i] > size - at) return false;
    streams[i].resize(kMostStream);
    size_t n = ZSTD_decompressDCtx(context, &streams[i][0], kMostStream, data + at, static_cast<size_t>(sizes[i]));
    if (ZSTD_isError(n)) return false;
    streams[i].resize(n);
    at += static_cast<size_t>(sizes[i]);
  }
  return at == size;
}

}  // namespace

// Three mutations in four change one stream's content or the announced new size, and write the
// patch out again with sound frames and sizes; the rest work on the raw bytes.
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
  static ZSTD_CCtx* context = ZSTD_createCCtx();
  std::minstd_rand random(seed);
  patch::Header header;
  std::string streams[4];
  if (random() % 4 == 0 || !Unpack(data, size, header, streams)) return LLVMFuzzerMutate(data, size, maxSize);
  const unsigned which = random() % 5;
  if (which == 4) {
    header.newSize = random() % 2 ? random() % 4096 : header.newSize + random() % 64 - 32;
  } else {
    std::string& stream = streams[which];
    const size_t length = stream.size(), room = std::min(kMostStream, length * 2 + 64);
    if (length == 0) {  // something to start from: a short run of one byte
      stream.assign(1 + random() % 24, static_cast<char>(random()));
    } else {
      stream.resize(room);
      stream.resize(LLVMFuzzerMutate(reinterpret_cast<uint8_t*>(&stream[0]), length, room));
    }
  }
  std::string packed[4];
  for (int i = 0; i < 4; ++i) {
    packed[i].resize(ZSTD_compressBound(streams[i].size()));
    size_t n = ZSTD_compressCCtx(context, &packed[i][0], packed[i].size(), streams[i].data(), streams[i].size(), 1);
    if (ZSTD_isError(n)) return LLVMFuzzerMutate(data, size, maxSize);
    packed[i].resize(n);
  }
  header.controlSize = packed[0].size();
  header.gapsSize = packed[1].size();
  header.valuesSize = packed[2].size();
  header.extraSize = packed[3].size();
  unsigned char head[patch::kHeaderSize];
  patch::WriteHeader(header, head);
  std::string out(reinterpret_cast<const char*>(head), sizeof head);
  for (const auto& p : packed) out += p;
  if (out.size() > maxSize) return LLVMFuzzerMutate(data, size, maxSize);
  memcpy(data, out.data(), out.size());
  return out.size();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path root = [] {
    fs::path dir = fuzz::Scratch() / "patch";
    fs::create_directories(dir);
    const std::string& old = OldBytes();
    fuzz::WriteBytes(dir / "old.bin", reinterpret_cast<const uint8_t*>(old.data()), old.size());
    return dir;
  }();
  ApplyOnce(root, data, size);

  patch::Header header;
  unsigned char head[patch::kHeaderSize];
  if (size < patch::kHeaderSize) return 0;
  memcpy(head, data, sizeof head);
  const uint64_t body = size - patch::kHeaderSize;
  if (!patch::ReadHeader(head, header)) return 0;
  const uint64_t leading = header.controlSize + header.gapsSize + header.valuesSize;
  if (leading + header.extraSize == body || leading > body) return 0;
  header.extraSize = body - leading;
  patch::WriteHeader(header, head);
  std::string fitted(reinterpret_cast<const char*>(data), size);
  memcpy(&fitted[0], head, sizeof head);
  ApplyOnce(root, reinterpret_cast<const uint8_t*>(fitted.data()), fitted.size());
  return 0;
}
