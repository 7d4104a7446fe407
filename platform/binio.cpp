#include "platform/binio.h"

#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cstring>
#include <fstream>
#include <random>

#include "platform/file_env.h"

namespace platform {
namespace fs = std::filesystem;

void BinaryWriter::WriteUInt32(uint32_t v) {
    char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                 static_cast<char>(v >> 24)};
    buf_.append(b, 4);
}

void BinaryWriter::WriteInt32(int32_t v) {
    WriteUInt32(static_cast<uint32_t>(v));
}

void BinaryWriter::WriteDouble(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    WriteUInt32(static_cast<uint32_t>(bits));
    WriteUInt32(static_cast<uint32_t>(bits >> 32));
}

void BinaryWriter::WriteRecordString(std::u16string_view s) {
    WriteInt32(static_cast<int32_t>(s.size()));
    size_t at = buf_.size();
    buf_.resize(at + (s.size() + 1) * 2);
    char* p = buf_.data() + at;
    for (char16_t u : s) {
        *p++ = static_cast<char>(u & 0xFF);
        *p++ = static_cast<char>(u >> 8);
    }
    p[0] = p[1] = 0;
}

bool BinaryReader::Need(size_t n) {
    if (n > data_.size() - pos_) {
        status_ = ReadStatus::kShort;
        return false;
    }
    return true;
}

bool BinaryReader::ReadUInt32(uint32_t* v) {
    if (!Need(4))
        return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data_.data() + pos_);
    *v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    pos_ += 4;
    status_ = ReadStatus::kOk;
    return true;
}

bool BinaryReader::ReadInt32(int32_t* v) {
    uint32_t u;
    if (!ReadUInt32(&u))
        return false;
    *v = static_cast<int32_t>(u);
    return true;
}

bool BinaryReader::ReadDouble(double* v) {
    if (!Need(8))
        return false;
    uint32_t lo, hi;
    ReadUInt32(&lo);
    ReadUInt32(&hi);
    uint64_t bits = (static_cast<uint64_t>(hi) << 32) | lo;
    std::memcpy(v, &bits, 8);
    return true;
}

bool BinaryReader::ReadRecordString(std::u16string* s, int32_t max_units) {
    size_t start = pos_;
    int32_t n;
    if (!ReadInt32(&n))
        return false;
    if (n < 0 || n > max_units) {
        pos_ = start;
        status_ = n < 0 ? ReadStatus::kBad : ReadStatus::kTooLong;
        return false;
    }
    size_t bytes = (static_cast<size_t>(n) + 1) * 2;
    if (!Need(bytes)) {
        pos_ = start;
        return false;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data_.data() + pos_);
    s->resize(static_cast<size_t>(n));
    if constexpr (std::endian::native == std::endian::little) {
        // The units are stored as they lie in memory: one copy.
        std::memcpy(s->data(), p, static_cast<size_t>(n) * 2);
    } else {
        for (int32_t i = 0; i < n; ++i)
            (*s)[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    }
    pos_ += bytes;
    status_ = ReadStatus::kOk;
    return true;
}

bool BinaryReader::Skip(size_t n) {
    if (!Need(n))
        return false;
    pos_ += n;
    return true;
}

bool ReadFileBytes(const fs::path& path, std::string* out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    out->clear();
    char buf[65536];
    while (true) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        out->append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

void SyncDirectory(const fs::path& dir) {
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool WriteFileAtomic(const fs::path& path, std::string_view data) {
    static thread_local std::mt19937 rng{std::random_device{}()};
    fs::path tmp = path;
    tmp += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(rng() % 1000000);
    FileEnv& env = Env();
    int fd = env.Open(tmp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    bool ok = WriteAllAt(fd, 0, data.data(), data.size()) && env.Sync(fd);
    ok = env.Close(fd) && ok;
    if (ok)
        ok = env.Rename(tmp, path);
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    SyncDirectory(path.parent_path());
    return true;
}

}  // namespace platform
