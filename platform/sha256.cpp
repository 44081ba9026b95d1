#include "platform/sha256.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace ah {
namespace {

struct DigestContext {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
  bool ok = ctx && EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) == 1;

  bool Update(const void* data, size_t size) {
    return ok && EVP_DigestUpdate(ctx.get(), data, size) == 1;
  }
  std::optional<std::string> Hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!ok || EVP_DigestFinal_ex(ctx.get(), digest, &size) != 1) return std::nullopt;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (unsigned int i = 0; i < size; ++i) {
      hex.push_back(kDigits[digest[i] >> 4]);
      hex.push_back(kDigits[digest[i] & 15]);
    }
    return hex;
  }
};

struct FileDescriptor {
  int fd;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
  DigestContext digest;
  digest.Update(bytes.data(), bytes.size());
  return digest.Hex().value_or("");
}

std::optional<FileDigest> DigestFile(const std::filesystem::path& file) {
  FileDescriptor in{::open(file.c_str(), O_RDONLY | O_CLOEXEC)};
  struct stat st;
  if (in.fd < 0 || ::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  DigestContext digest;
  std::vector<char> block(256 * 1024);
  FileDigest result;
  for (;;) {
    ssize_t n = ::read(in.fd, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    if (!digest.Update(block.data(), size_t(n))) return std::nullopt;
    result.bytes += uint64_t(n);
  }
  auto hex = digest.Hex();
  if (!hex) return std::nullopt;
  result.sha256 = std::move(*hex);
  return result;
}

bool FileMatchesDigest(const std::filesystem::path& file, std::uint64_t bytes,
                       std::string_view sha256) {
  std::error_code ec;
  if (std::filesystem::file_size(file, ec) != bytes || ec) return false;
  auto digest = DigestFile(file);
  return digest && digest->bytes == bytes && digest->sha256 == sha256;
}

}  // namespace ah
