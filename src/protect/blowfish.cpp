#include "protect/blowfish.h"

#include <cstring>
#include <new>

namespace zun {

namespace {

constexpr std::size_t kRounds = 16;

constexpr std::uint32_t kPiWords[kRounds + 2 + 4 * 256] = {
#include "protect/blowfish_pi.inc"
};

std::uint32_t LoadLittle(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
         (std::uint32_t{p[3]} << 24);
}

void StoreLittle(std::uint32_t v, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace

struct BlowfishCipher::Schedule {
  std::uint32_t p[kRounds + 2];
  std::uint32_t s[4][256];

  std::uint32_t F(std::uint32_t x) const {
    return ((s[0][x >> 24] + s[1][(x >> 16) & 0xFF]) ^ s[2][(x >> 8) & 0xFF]) + s[3][x & 0xFF];
  }

  void Encrypt(std::uint32_t& left, std::uint32_t& right) const {
    std::uint32_t l = left, r = right;
    for (std::size_t i = 0; i < kRounds; i += 2) {
      l ^= p[i];
      r ^= F(l);
      r ^= p[i + 1];
      l ^= F(r);
    }
    left = r ^ p[kRounds + 1];
    right = l ^ p[kRounds];
  }
};

BlowfishCipher::BlowfishCipher() = default;
BlowfishCipher::~BlowfishCipher() = default;

ResultCode BlowfishCipher::SetKey(const std::uint8_t* key, std::size_t length) {
  if (length < kMinKeySize || length > kMaxKeySize) return RC_NOT_SUPPORTED;
  if (!schedule_) {
    schedule_.reset(new (std::nothrow) Schedule);
    if (!schedule_) return RC_OUT_OF_MEMORY;
  }
  Schedule& ks = *schedule_;
  static_assert(sizeof(ks.p) + sizeof(ks.s) == sizeof(kPiWords));
  std::memcpy(ks.p, kPiWords, sizeof(ks.p));
  std::memcpy(ks.s, kPiWords + kRounds + 2, sizeof(ks.s));

  std::size_t k = 0;
  for (std::uint32_t& word : ks.p) {
    std::uint32_t keyWord = 0;
    for (int b = 0; b < 4; ++b) {
      keyWord = (keyWord << 8) | key[k];
      if (++k == length) k = 0;
    }
    word ^= keyWord;
  }

  std::uint32_t l = 0, r = 0;
  for (std::size_t i = 0; i < kRounds + 2; i += 2) {
    ks.Encrypt(l, r);
    ks.p[i] = l;
    ks.p[i + 1] = r;
  }
  for (auto& box : ks.s) {
    for (std::size_t i = 0; i < 256; i += 2) {
      ks.Encrypt(l, r);
      box[i] = l;
      box[i + 1] = r;
    }
  }
  return RC_OK;
}

void BlowfishCipher::EncryptBlock(const std::uint8_t* in, std::uint8_t* out) const {
  std::uint32_t l = LoadLittle(in), r = LoadLittle(in + 4);
  schedule_->Encrypt(l, r);
  StoreLittle(l, out);
  StoreLittle(r, out + 4);
}

ResultCode BlowfishCipher::EncryptBlocks(const std::uint8_t* input, std::size_t length,
                                         std::vector<std::uint8_t>& output) const {
  if (length % kBlockSize != 0) return RC_INVALID_PARAMETER;
  if (!schedule_) return RC_NOT_INITIALISED;
  try {
    output.resize(length);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  for (std::size_t i = 0; i < length; i += kBlockSize) EncryptBlock(input + i, output.data() + i);
  return RC_OK;
}

ResultCode BlowfishCipher::EncryptFinal(const std::uint8_t* input, std::size_t length,
                                        std::vector<std::uint8_t>& output) const {
  if (length >= kBlockSize) return RC_INVALID_PARAMETER;
  if (!schedule_) return RC_NOT_INITIALISED;
  if (length == 0) {
    output.clear();
    return RC_OK;
  }
  std::uint8_t block[kBlockSize] = {};
  std::memcpy(block, input, length);
  try {
    output.resize(kBlockSize);
  } catch (const std::bad_alloc&) {
    return RC_OUT_OF_MEMORY;
  }
  EncryptBlock(block, output.data());
  return RC_OK;
}

}  // namespace zun
