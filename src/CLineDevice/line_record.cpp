// Recording a line: to a file (WAV with its 58-byte header, or bare MP3)
// and as a stream of event 20, each in its own coder, both at once if asked.
// The frames come from the capture thread; starts and stops from API
// threads. All of it runs under the record mutex but the raising of event
// 20, which follows once the mutex is released: the callback may then call
// the library, this line's recording included.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "CLineDevice/CLineDevice.h"
#include "base/filesystem.h"
#include "base/logger.h"
#include "codecs/g711.h"

namespace {

constexpr mode_t kRecordFileMode = 0666;
constexpr unsigned kFrameSamples = CLineDevice::kFrameBytes / 2;
// enable_mp3_compress chooses the MP3 bit rate in kbit/s.
constexpr int kMp3CompressedKbps = 8;
constexpr int kMp3PlainKbps = 64;

const std::int16_t* samplesOf(const char* frame)
{
    return reinterpret_cast<const std::int16_t*>(frame);
}

}  // namespace

// One recording coder: whether its file starts with a WAV header, whether
// it needs the MP3 encoder, and its writer. G.729 has no encoder here: its
// files stay empty and its stream sends nothing, like those of coder 20.
struct CLineDevice::RecordCoder {
    int coder;
    bool wav_header;
    bool mp3;
    std::span<const std::uint8_t> (CLineDevice::*writer)(const char* frame, unsigned long len);
    const char* writer_failed;  // the log line of an exception in the writer

    // The coder's row, or null for a coder outside the table.
    static const RecordCoder* find(int coder)
    {
        static constexpr RecordCoder kTable[] = {
            {OLVA_CODER_PCM, true, false, &CLineDevice::handle_record_wave_to_linear,
             "%s++, happend except!!!"},
            {OLVA_CODER_ALAW, true, false, &CLineDevice::handle_record_wave_to_alaw,
             "%s++, happend except 2!!!"},
            {OLVA_CODER_ULAW, true, false, &CLineDevice::handle_record_wave_to_ulaw,
             "%s++, happend except 3!!!"},
            {OLVA_CODER_G729, false, false, nullptr, nullptr},
            {OLVA_CODER_NULL, false, false, nullptr, nullptr},
            {OLVA_CODER_MP3, false, true, &CLineDevice::handle_record_wave_to_mp3,
             "%s++, happend except 5!!!"},
        };
        for (const RecordCoder& row : kTable)
            if (row.coder == coder)
                return &row;
        return nullptr;
    }
};

int CLineDevice::mp3_encode_init()
{
    const int kbps =
        settings_.enable_mp3_compress.load() != 0 ? kMp3CompressedKbps : kMp3PlainKbps;
    if (!mp3_.open(kbps)) {
        LINE_LOG(1, "%s mp3 encoder does not start at %d kbit/s", kbps);
        return -1;
    }
    return 0;
}

void CLineDevice::apply_agc_reset_request()
{
    if (agc_reset_requested_.exchange(false))
        reset_agc();
}

int CLineDevice::line_record_file(const char* path, int coder)
{
    LINE_LOG(3, "%s %s, coder:%d", path ? path : "(null)", coder);
    std::lock_guard<std::mutex> lock(record_mutex_);
    if (file_coder_ != -1) {
        LINE_LOG(1, "%s olva_record_file( %s%d),failed ,current coder =%d ", path ? path : "(null)",
                 coder, file_coder_);
        return OLVA_ERR_BUSY;
    }
    if (!path) {
        LINE_LOG(1, "%s olva_record_file( %s%d),failed ,current coder =%d ", "(null)", coder,
                 file_coder_);
        return OLVA_ERR_INVALID_PARAM;
    }
    const RecordCoder* row = RecordCoder::find(coder);
    if (!row) {
        LINE_LOG(1, "%s olva_record_file( %s, %d) failed: no such coder", path, coder);
        return OLVA_ERR_CODER;
    }

    std::string own_path(path);
    conv_dirsep(own_path.data());
    mkdir_tree(own_path.c_str(), nullptr);
    const int fd = ::open(own_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, kRecordFileMode);
    if (fd < 0) {
        LINE_LOG(1, "%s: open( '%s' ) failed: %s", own_path.c_str(), std::strerror(errno));
        return OLVA_ERR_FAILED;
    }
    WaveHeader header{};
    if (row->wav_header) {
        init_wavhdr_coder(&header, coder, 0);
        if (::write(fd, &header, sizeof header) != static_cast<ssize_t>(sizeof header)) {
            LINE_LOG(1, "%s: write header of '%s' failed: %s", own_path.c_str(),
                     std::strerror(errno));
            ::close(fd);
            return OLVA_ERR_FAILED;
        }
    }
    if (row->mp3 && !mp3_.is_open() && mp3_encode_init() != 0) {
        ::close(fd);
        return OLVA_ERR_FAILED;
    }

    if (stream_coder_ == -1)
        agc_reset_requested_.store(true);
    record_fd_ = fd;
    record_path_ = std::move(own_path);
    record_header_ = header;
    record_bytes_ = 0;
    record_write_failed_ = false;
    file_coder_ = coder;
    return OLVA_OK;
}

int CLineDevice::line_record_stream(int coder)
{
    LINE_LOG(3, "%s ++ coder(%d)", coder);
    std::lock_guard<std::mutex> lock(record_mutex_);
    if (stream_coder_ != -1) {
        LINE_LOG(1, "%solva_record_stream( %d) failed, current coder=%d", coder, stream_coder_);
        return OLVA_ERR_BUSY;
    }
    const RecordCoder* row = RecordCoder::find(coder);
    if (!row) {
        LINE_LOG(1, "%solva_record_stream( %d) failed: no such coder", coder);
        return OLVA_ERR_CODER;
    }
    if (row->mp3 && !mp3_.is_open() && mp3_encode_init() != 0)
        return OLVA_ERR_FAILED;
    if (file_coder_ == -1)
        agc_reset_requested_.store(true);
    stream_coder_ = coder;
    LINE_LOG(3, "%s --");
    return OLVA_OK;
}

void CLineDevice::write_record_file(std::span<const std::uint8_t> bytes)
{
    if (record_fd_ < 0 || record_write_failed_)
        return;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t stored = ::write(record_fd_, bytes.data() + done, bytes.size() - done);
        if (stored < 0 && errno == EINTR)
            continue;
        if (stored <= 0) {
            // Disk full or the like: stop writing, so that the file ends
            // with whole data that its header, rewritten at the stop, states.
            LINE_LOG(1, "%s: write file failed: %s", stored < 0 ? std::strerror(errno) : "nothing stored");
            LINE_LOG(1, "%s  recording to '%s' stopped after %lu bytes", record_path_.c_str(),
                     record_bytes_ + static_cast<unsigned long>(done));
            record_write_failed_ = true;
            break;
        }
        done += static_cast<std::size_t>(stored);
    }
    record_bytes_ += static_cast<unsigned long>(done);
}

void CLineDevice::close_record_file()
{
    if (record_fd_ < 0) {
        file_coder_ = -1;
        return;
    }
    const RecordCoder* row = RecordCoder::find(file_coder_);
    unsigned long size = record_bytes_;
    if (row && row->wav_header) {
        size += kWaveHeaderSize;
        if (record_bytes_ == 0) {
            LINE_LOG(4, "%s  no record data ");
        } else {
            wave_header_set_data_length(&record_header_, record_bytes_);
            if (::pwrite(record_fd_, &record_header_, sizeof record_header_, 0) !=
                static_cast<ssize_t>(sizeof record_header_))
                LINE_LOG(1, "%s: rewrite header of '%s' failed: %s", record_path_.c_str(),
                         std::strerror(errno));
        }
    }
    file_coder_ = -1;
    LINE_LOG(4, "%s  file size:%lu ", size);
    if (::close(record_fd_) != 0)
        LINE_LOG(1, "%s: close '%s' failed: %s", record_path_.c_str(), std::strerror(errno));
    record_fd_ = -1;
}

void CLineDevice::line_stop_record()
{
    LINE_LOG(3, "%s++  %s", __func__);
    // The tail of an MP3 stream goes out after the mutex, from this
    // thread's own buffer: the capture thread's buffers stay its own.
    std::uint8_t tail[Mp3Encoder::kFlushBytes];
    int tail_bytes = 0;
    {
        std::unique_lock<std::mutex> lock(record_mutex_);
        const bool streaming_mp3 = stream_coder_ == OLVA_CODER_MP3;
        if (mp3_.is_open()) {
            tail_bytes = mp3_.finish(tail, sizeof tail);
            if (tail_bytes < 0) {
                LINE_LOG(1, "%s mp3 flush failed: %d", tail_bytes);
                tail_bytes = 0;
            }
            if (file_coder_ == OLVA_CODER_MP3)
                write_record_file({tail, static_cast<std::size_t>(tail_bytes)});
        }
        if (!streaming_mp3)
            tail_bytes = 0;
        close_record_file();
        stream_coder_ = -1;
        // A frame's event 20 still being raised comes before the tail and
        // before this stop returns.
        const std::thread::id self = std::this_thread::get_id();
        stream_raised_.wait(lock, [&] {
            return stream_raiser_ == std::thread::id() || stream_raiser_ == self;
        });
    }
    if (tail_bytes > 0)
        fire_event(OLVA_EVENT_VOICE_DATA, reinterpret_cast<unsigned long>(tail),
                   static_cast<unsigned long>(tail_bytes), 0, 0);
    LINE_LOG(3, "%s--");
}

std::span<const std::uint8_t> CLineDevice::handle_record_wave_to_linear(const char* frame,
                                                                        unsigned long len)
{
    std::memcpy(record_linear_, frame, len);
    return {record_linear_, len};
}

std::span<const std::uint8_t> CLineDevice::handle_record_wave_to_alaw(const char* frame,
                                                                      unsigned long len)
{
    linear2alaw_query(samplesOf(frame), static_cast<unsigned>(len / 2), record_alaw_);
    return {record_alaw_, len / 2};
}

std::span<const std::uint8_t> CLineDevice::handle_record_wave_to_ulaw(const char* frame,
                                                                      unsigned long len)
{
    linear2ulaw_query(samplesOf(frame), static_cast<unsigned>(len / 2), record_ulaw_);
    return {record_ulaw_, len / 2};
}

std::span<const std::uint8_t> CLineDevice::handle_record_wave_to_mp3(const char* frame,
                                                                     unsigned long len)
{
    const int made =
        mp3_.encode(samplesOf(frame), static_cast<int>(len / 2), record_mp3_, sizeof record_mp3_);
    if (made < 0) {
        LINE_LOG(1, "%s mp3 encode failed: %d", made);
        return {};
    }
    return {record_mp3_, static_cast<std::size_t>(made)};
}

std::span<const std::uint8_t> CLineDevice::run_record_writer(const RecordCoder& coder,
                                                             const char* frame, unsigned long len)
{
    try {
        return (this->*coder.writer)(frame, len);
    } catch (...) {
        LINE_LOG(1, coder.writer_failed);
        return {};
    }
}

void CLineDevice::handle_write_wav(char* frame, unsigned long len)
{
    if (!frame || len != kFrameBytes)
        return;
    std::span<const std::uint8_t> stream;
    {
        std::lock_guard<std::mutex> lock(record_mutex_);
        if (file_coder_ == -1 && stream_coder_ == -1)
            return;
        try {
            const RecordCoder* file = RecordCoder::find(file_coder_);
            const RecordCoder* streamed = RecordCoder::find(stream_coder_);
            if (file && file->writer) {
                const std::span<const std::uint8_t> bytes = run_record_writer(*file, frame, len);
                write_record_file(bytes);
                // Both in one coder: the frame is encoded once.
                if (streamed == file)
                    stream = bytes;
            }
            if (streamed && streamed != file && streamed->writer)
                stream = run_record_writer(*streamed, frame, len);
        } catch (...) {
            LINE_LOG(1, "%s++, happend except 6!!!");
            stream = {};
        }
        if (!stream.empty())
            stream_raiser_ = std::this_thread::get_id();
    }
    if (stream.empty())
        return;
    fire_event(OLVA_EVENT_VOICE_DATA, reinterpret_cast<unsigned long>(stream.data()),
               static_cast<unsigned long>(stream.size()), 0, 0);
    {
        std::lock_guard<std::mutex> lock(record_mutex_);
        stream_raiser_ = std::thread::id();
    }
    stream_raised_.notify_all();
}
