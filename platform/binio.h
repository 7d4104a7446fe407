// Little-endian binary records and the record string (int32 count n, then
// n + 1 UTF-16LE code units, the last one zero). Readers never read past
// their buffer: a short read or an over-long string is an error.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

class BinaryWriter {
  public:
    void WriteInt32(int32_t v);
    void WriteUInt32(uint32_t v);
    void WriteDouble(double v);
    // The record string; the caller keeps texts within the reader's limit.
    void WriteRecordString(std::u16string_view s);
    void WriteBytes(std::string_view bytes) { buf_.append(bytes); }
    const std::string& data() const { return buf_; }
    std::string& data() { return buf_; }
    size_t size() const { return buf_.size(); }
    void clear() { buf_.clear(); }

  private:
    std::string buf_;
};

enum class ReadStatus { kOk, kShort, kTooLong, kBad };

class BinaryReader {
  public:
    explicit BinaryReader(std::string_view data) : data_(data) {}

    bool ReadInt32(int32_t* v);
    bool ReadUInt32(uint32_t* v);
    bool ReadDouble(double* v);
    // Reads a record string of at most `max_units` code units (not counting the
    // terminating unit). On failure status() tells why and the position is
    // left where the string began.
    bool ReadRecordString(std::u16string* s, int32_t max_units);
    bool Skip(size_t n);

    size_t position() const { return pos_; }
    void Seek(size_t pos) { pos_ = pos <= data_.size() ? pos : data_.size(); }
    size_t remaining() const { return data_.size() - pos_; }
    bool at_end() const { return pos_ >= data_.size(); }
    ReadStatus status() const { return status_; }

  private:
    bool Need(size_t n);
    std::string_view data_;
    size_t pos_ = 0;
    ReadStatus status_ = ReadStatus::kOk;
};

// Whole-file helpers. WriteFileAtomic writes a temporary file beside `path`,
// fsyncs it, renames it over `path` and fsyncs the directory.
bool ReadFileBytes(const std::filesystem::path& path, std::string* out);
bool WriteFileAtomic(const std::filesystem::path& path, std::string_view data);
// Makes a rename in `dir` durable (fsync of the directory; best effort).
void SyncDirectory(const std::filesystem::path& dir);

}  // namespace platform
