#include "payload/producer.hpp"

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "payload/format.hpp"

namespace {

// Bodies up to this size are read with one read and checksummed in memory; larger ones are
// read twice in pieces of this size (once for the checksum that precedes the body in the
// stream, once to compress), so memory stays bounded for packs of any size.
constexpr std::size_t body_piece_size = std::size_t{16} << 20;
// Names and fields are gathered here so the compressor sees few, large inputs.
constexpr std::size_t pending_capacity = std::size_t{1} << 20;
// zlib's crc32 takes a 32-bit length.
constexpr std::size_t crc_piece_size = std::size_t{1} << 30;

std::uint32_t continue_crc(std::uint32_t crc, const unsigned char* data, std::size_t length) {
    while (length > 0) {
        std::size_t piece = std::min(length, crc_piece_size);
        crc = static_cast<std::uint32_t>(crc32(crc, data, static_cast<uInt>(piece)));
        data += piece;
        length -= piece;
    }
    return crc;
}

std::string describe(const std::filesystem::path& file) {
    return "'" + file.string() + "'";
}

std::uint64_t body_size(const PayloadSource& source) {
    if (source.file.empty()) {
        return source.contents.size();
    }
    std::error_code error;
    std::uint64_t size = std::filesystem::file_size(source.file, error);
    if (error) {
        throw std::runtime_error("cannot read " + describe(source.file) + ": " + error.message());
    }
    return size;
}

std::uint64_t entry_header_size(const PayloadSource& source) {
    return 2 * (source.name.size() + 1) + 8 + 4;
}

// Receives the entry stream in order: into memory, or into the compressor.
class EntryStreamSink {
  public:
    virtual ~EntryStreamSink() = default;

    void put(const unsigned char* data, std::size_t length) {
        if (pending_.size() + length > pending_capacity) {
            flush();
            if (length >= pending_capacity) {
                consume(data, length);
                return;
            }
        }
        pending_.insert(pending_.end(), data, data + length);
    }

    void flush() {
        if (!pending_.empty()) {
            consume(pending_.data(), pending_.size());
            pending_.clear();
        }
    }

  protected:
    virtual void consume(const unsigned char* data, std::size_t length) = 0;

  private:
    std::vector<unsigned char> pending_;
};

class MemorySink : public EntryStreamSink {
  public:
    explicit MemorySink(std::vector<unsigned char>& output) : output_(output) {}

  protected:
    void consume(const unsigned char* data, std::size_t length) override {
        output_.insert(output_.end(), data, data + length);
    }

  private:
    std::vector<unsigned char>& output_;
};

struct CompressorDeleter {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

void check_zstd(std::size_t result, const char* what) {
    if (ZSTD_isError(result)) {
        throw std::runtime_error(std::string("zstd ") + what + ": " + ZSTD_getErrorName(result));
    }
}

// The attached data on its way out: counts what passes, for the trailer.
class AttachedDataCounter {
  public:
    explicit AttachedDataCounter(const AttachedDataSink& sink) : sink_(sink) {}

    void put(const unsigned char* data, std::size_t length) {
        if (length > 0) {
            sink_(data, length);
            count_ += length;
        }
    }

    // Zero bytes up to a multiple of 8, then the 64-bit offset of the count itself.
    void put_trailer() {
        const unsigned char zeros[attached_data_alignment] = {};
        put(zeros, static_cast<std::size_t>((attached_data_alignment - count_ % attached_data_alignment) %
                                            attached_data_alignment));
        unsigned char encoded[8];
        for (int at = 0; at < 8; ++at) {
            encoded[at] = static_cast<unsigned char>(count_ >> (8 * at));
        }
        put(encoded, sizeof encoded);
    }

    std::uint64_t count() const { return count_; }

  private:
    const AttachedDataSink& sink_;
    std::uint64_t count_ = 0;
};

// Feeds the compressor and hands its output on, one output buffer at a time.
class CompressorSink : public EntryStreamSink {
  public:
    CompressorSink(ZSTD_CCtx* context, AttachedDataCounter& output)
        : context_(context), output_(output), buffer_(ZSTD_CStreamOutSize()) {}

    void finish() {
        flush();
        for (;;) {
            ZSTD_inBuffer input{nullptr, 0, 0};
            std::size_t remaining = drive(input, ZSTD_e_end);
            if (remaining == 0) {
                return;
            }
        }
    }

  protected:
    void consume(const unsigned char* data, std::size_t length) override {
        ZSTD_inBuffer input{data, length, 0};
        while (input.pos < input.size) {
            drive(input, ZSTD_e_continue);
        }
    }

  private:
    std::size_t drive(ZSTD_inBuffer& input, ZSTD_EndDirective mode) {
        ZSTD_outBuffer out{buffer_.data(), buffer_.size(), 0};
        std::size_t result = ZSTD_compressStream2(context_, &out, &input, mode);
        check_zstd(result, "compression");
        output_.put(buffer_.data(), out.pos);
        return result;
    }

    ZSTD_CCtx* context_;
    AttachedDataCounter& output_;
    std::vector<unsigned char> buffer_;
};

void put_little_endian(EntryStreamSink& sink, std::uint64_t value, int bytes) {
    unsigned char encoded[8];
    for (int at = 0; at < bytes; ++at) {
        encoded[at] = static_cast<unsigned char>(value >> (8 * at));
    }
    sink.put(encoded, static_cast<std::size_t>(bytes));
}

void put_entry_header(EntryStreamSink& sink, const std::u16string& name, std::uint64_t size,
                      std::uint32_t checksum) {
    for (char16_t unit : name) {
        put_little_endian(sink, unit, 2);
    }
    put_little_endian(sink, 0, 2);
    put_little_endian(sink, size, 8);
    put_little_endian(sink, checksum_from_crc(checksum), 4);
}

std::ifstream open_body(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        throw std::runtime_error("cannot open " + describe(file));
    }
    return stream;
}

void read_exactly(std::ifstream& stream, unsigned char* data, std::size_t length,
                  const std::filesystem::path& file) {
    stream.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(length));
    if (static_cast<std::size_t>(stream.gcount()) != length) {
        throw std::runtime_error("cannot read " + describe(file) + ": it became shorter while packing");
    }
}

// Writes every entry and the end marker; sizes are the ones the stream size was computed from.
void write_entry_stream(EntryStreamSink& sink, const std::vector<PayloadSource>& sources,
                        const std::vector<std::uint64_t>& sizes, const ProducerProgress& progress) {
    std::vector<unsigned char> buffer;
    std::uint64_t bytes_done = 0;
    for (std::size_t index = 0; index < sources.size(); ++index) {
        const PayloadSource& source = sources[index];
        std::uint64_t size = sizes[index];
        if (source.name.empty()) {
            throw std::runtime_error("an entry without a name would end the stream");
        }
        if (source.file.empty()) {
            const auto* body = reinterpret_cast<const unsigned char*>(source.contents.data());
            put_entry_header(sink, source.name, size, continue_crc(0, body, size));
            sink.put(body, size);
        } else if (size <= body_piece_size) {
            buffer.resize(size);
            std::ifstream stream = open_body(source.file);
            read_exactly(stream, buffer.data(), size, source.file);
            put_entry_header(sink, source.name, size, continue_crc(0, buffer.data(), size));
            sink.put(buffer.data(), size);
        } else {
            buffer.resize(body_piece_size);
            std::uint32_t crc = 0;
            std::ifstream first = open_body(source.file);
            for (std::uint64_t left = size; left > 0;) {
                std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, body_piece_size));
                read_exactly(first, buffer.data(), piece, source.file);
                crc = continue_crc(crc, buffer.data(), piece);
                left -= piece;
            }
            put_entry_header(sink, source.name, size, crc);
            std::uint32_t second_crc = 0;
            std::ifstream second = open_body(source.file);
            for (std::uint64_t left = size; left > 0;) {
                std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, body_piece_size));
                read_exactly(second, buffer.data(), piece, source.file);
                second_crc = continue_crc(second_crc, buffer.data(), piece);
                sink.put(buffer.data(), piece);
                left -= piece;
                if (progress) {
                    progress(index, bytes_done + (size - left));
                }
            }
            if (second_crc != crc) {
                throw std::runtime_error("cannot pack " + describe(source.file) +
                                         ": it changed while packing");
            }
        }
        bytes_done += size;
        if (progress) {
            progress(index + 1, bytes_done);
        }
    }
    put_little_endian(sink, 0, 2);
    sink.flush();
}

std::vector<std::uint64_t> body_sizes(const std::vector<PayloadSource>& sources) {
    std::vector<std::uint64_t> sizes;
    sizes.reserve(sources.size());
    for (const PayloadSource& source : sources) {
        sizes.push_back(body_size(source));
    }
    return sizes;
}

std::uint64_t stream_size_of(const std::vector<PayloadSource>& sources,
                             const std::vector<std::uint64_t>& sizes) {
    std::uint64_t total = 2;
    for (std::size_t index = 0; index < sources.size(); ++index) {
        total += entry_header_size(sources[index]) + sizes[index];
    }
    return total;
}

int worker_count(int threads) {
    if (threads == 1) {
        return 0;
    }
    if (threads > 1) {
        return threads;
    }
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

} // namespace

int choose_window_log(std::uint64_t stream_size) {
    int log = min_window_log;
    while (log < max_window_log && (std::uint64_t{1} << log) < stream_size) {
        ++log;
    }
    return log;
}

std::uint64_t entry_stream_size(const std::vector<PayloadSource>& sources) {
    return stream_size_of(sources, body_sizes(sources));
}

std::vector<unsigned char> build_entry_stream(const std::vector<PayloadSource>& sources) {
    std::vector<std::uint64_t> sizes = body_sizes(sources);
    std::vector<unsigned char> stream;
    stream.reserve(static_cast<std::size_t>(stream_size_of(sources, sizes)));
    MemorySink sink(stream);
    write_entry_stream(sink, sources, sizes, {});
    return stream;
}

std::vector<unsigned char> wrap_attached_data(const std::vector<unsigned char>& frame) {
    std::vector<unsigned char> block;
    AttachedDataSink append = [&](const unsigned char* data, std::size_t length) {
        block.insert(block.end(), data, data + length);
    };
    AttachedDataCounter output(append);
    output.put(attached_data_header, attached_data_header_size);
    output.put(frame.data(), frame.size());
    output.put_trailer();
    return block;
}

std::uint64_t write_attached_data(const std::vector<PayloadSource>& sources,
                                  const CompressionSettings& settings, const AttachedDataSink& sink,
                                  const ProducerProgress& progress) {
    std::vector<std::uint64_t> sizes = body_sizes(sources);
    std::uint64_t stream_size = stream_size_of(sources, sizes);
    int window_log = settings.window_log == 0 ? choose_window_log(stream_size) : settings.window_log;
    if (window_log < min_window_log || window_log > max_window_log) {
        throw std::runtime_error("window log " + std::to_string(window_log) + " is outside 10 to 27");
    }

    std::unique_ptr<ZSTD_CCtx, CompressorDeleter> context(ZSTD_createCCtx());
    if (!context) {
        throw std::runtime_error("zstd: cannot create a compression context");
    }
    check_zstd(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, settings.level), "level");
    check_zstd(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_windowLog, window_log), "window log");
    int workers = worker_count(settings.threads);
    if (workers > 0) {
        check_zstd(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_nbWorkers, workers), "workers");
    }
    check_zstd(ZSTD_CCtx_setPledgedSrcSize(context.get(), stream_size), "content size");

    AttachedDataCounter output(sink);
    output.put(attached_data_header, attached_data_header_size);
    CompressorSink compressor(context.get(), output);
    write_entry_stream(compressor, sources, sizes, progress);
    compressor.finish();
    output.put_trailer();
    return output.count();
}

std::vector<unsigned char> build_attached_data(const std::vector<PayloadSource>& sources,
                                               const CompressionSettings& settings,
                                               const ProducerProgress& progress) {
    std::vector<unsigned char> block;
    write_attached_data(
        sources, settings,
        [&](const unsigned char* data, std::size_t length) {
            block.insert(block.end(), data, data + length);
        },
        progress);
    return block;
}
