#include "publisher/channel_files.h"

#include "channel/sha256.h"
#include "digest/md5.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::size_t pieceBytes = 1u << 20;

}  // namespace

FileDigests digestsOfFile(const fs::path& file, bool withSha256)
{
    FileDigests digests;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return digests;
    Md5 md5;
    Sha256 sha256;
    std::vector<char> piece(pieceBytes);
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto count = static_cast<std::size_t>(in.gcount());
        md5.update(piece.data(), static_cast<std::uint32_t>(count));
        if (withSha256)
            sha256.update(piece.data(), count);
        digests.size += count;
    }
    if (in.bad())
        return digests;
    digests.read = true;
    digests.md5 = md5.finalize().hexDigest();
    if (withSha256)
        digests.sha256 = sha256.hexDigest();
    return digests;
}

bool putInPlace(const fs::path& temporary, const fs::path& target, std::string& failure)
{
    std::error_code error;
    fs::rename(temporary, target, error);
    if (error) {
        failure = "cannot put " + target.string() + " in place: " + error.message();
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

bool writeAtomically(const fs::path& target, const std::string& text, std::string& failure)
{
    const fs::path temporary = target.string() + publisherTemporarySuffix;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    std::error_code error;
    if (out.fail()) {
        failure = "cannot write " + temporary.string() + ": " + std::strerror(errno);
        fs::remove(temporary, error);
        return false;
    }
    fs::permissions(temporary, fs::perms(0644), error);
    return putInPlace(temporary, target, failure);
}
