#include "VideoFileCapture.h"

#include "VideoFrameConverter.h"
#include "VideoPacketIndex.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

// Each decoding thread holds a frame of its own in flight, and the memory it used
// stays with the process once it is gone: the threads' frames together take no more
// than this many pixels (two 4K frames: two threads at 4K, eight at 1080p).
constexpr double kDecodingPixels = 2.0 * 3840 * 2160;

int decodingThreads(int width, int height)
{
    const int cores = static_cast<int>(std::max(std::thread::hardware_concurrency(), 1u));
    const double pixels = std::max(static_cast<double>(width) * height, 1.0);
    return static_cast<int>(std::clamp(kDecodingPixels / pixels, 1.0, static_cast<double>(cores)));
}

// Rates closer than this are the same rate, measured over a clip too short to tell them apart.
constexpr double kRateTolerance = 0.02;

}  // namespace

struct VideoFileCapture::Decoder {
    enum class Admission { Shown, Dropped, Refuted };

    std::string path;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    std::unique_ptr<VideoFrameConverter> converter;
    AVPacket* packet = av_packet_alloc();
    AVFrame* incoming = av_frame_alloc();
    AVFrame* shown = av_frame_alloc();
    int stream = -1;
    VideoPacketIndex index;
    // Frame number of `shown`; -1 when it holds none.
    int shownIndex = -1;
    // Index packets before this one are never sent to the decoder.
    int nextPacket = 0;
    // `packet` was read by a seek and is sent before any other.
    bool packetPending = false;
    int pendingIndex = -1;
    // The end of the stream was sent to the decoder.
    bool flushed = false;
    // A seek decoded the frame that the next grab gives.
    bool frameHeld = false;
    // After a seek: the key packet that the first frame shown must come from.
    int awaitedKey = -1;
    bool keyRefuted = false;
    // Asked between the frames a seek decodes on the way to its own.
    std::function<bool()> interrupted;

    ~Decoder()
    {
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        av_packet_free(&packet);
        av_frame_free(&incoming);
        av_frame_free(&shown);
    }

    bool openDemuxer()
    {
        if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0 ||
            avformat_find_stream_info(format, nullptr) < 0)
            return false;
        // The first video stream, as cv::VideoCapture takes it; the others are never read.
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            if (stream < 0 && format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                stream = static_cast<int>(i);
        }
        for (unsigned i = 0; i < format->nb_streams; ++i)
            format->streams[i]->discard = static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        return stream >= 0;
    }

    bool open(const std::string& file)
    {
        path = file;
        if (!packet || !incoming || !shown || !openDemuxer())
            return false;
        AVStream* video = format->streams[stream];
        const AVCodec* decoderCodec = avcodec_find_decoder(video->codecpar->codec_id);
        codec = decoderCodec ? avcodec_alloc_context3(decoderCodec) : nullptr;
        if (!codec || avcodec_parameters_to_context(codec, video->codecpar) < 0)
            return false;
        codec->pkt_timebase = video->time_base;
        codec->thread_count = decodingThreads(video->codecpar->width, video->codecpar->height);
        if (avcodec_open2(codec, decoderCodec, nullptr) < 0)
            return false;
        converter = std::make_unique<VideoFrameConverter>(video);
        if (!index.build(format, stream, avio_size(format->pb)))
            return false;
        // A packet cut short by the end of the file shows a frame with some codecs and
        // none with others: decoding the last frame tells.
        if (index.packet(index.packetCount() - 1).partial && !seek(index.frameCount() - 1))
            index.dropLastPacket();
        return index.packetCount() > 0 && startAt(0);
    }

    // Opens the file again when the demuxer cannot seek back: then it reads from the start.
    bool reopenDemuxer()
    {
        avformat_close_input(&format);
        stream = -1;
        return openDemuxer();
    }

    // The next packet of the index at or after nextPacket; false at the end of the file.
    bool readPacket(int& which)
    {
        for (;;) {
            av_packet_unref(packet);
            if (av_read_frame(format, packet) < 0)
                return false;
            if (packet->stream_index != stream)
                continue;
            which = index.find(packet->pos, packet->dts);
            if (which >= nextPacket)
                return true;
        }
    }

    // Leaves the demuxer holding index packet `key` as the next one to send, with a
    // fresh decoder. Seeking with AVSEEK_FLAG_ANY lands on that very packet where the
    // demuxer has a table, before it otherwise; the packets before it are read, not decoded.
    bool startAt(int key)
    {
        avcodec_flush_buffers(codec);
        flushed = false;
        frameHeld = false;
        packetPending = false;
        awaitedKey = -1;
        keyRefuted = false;
        shownIndex = -1;
        nextPacket = 0;
        const std::int64_t dts = index.packet(key).dts;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const bool placed = attempt == 0 ? dts != AV_NOPTS_VALUE &&
                                                   av_seek_frame(format, stream, dts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) >= 0
                                             : reopenDemuxer();
            int which = -1;
            if (placed && readPacket(which) && which <= key) {
                while (which < key && readPacket(which)) {
                }
                if (which == key) {
                    packetPending = true;
                    pendingIndex = key;
                    nextPacket = key;
                    return true;
                }
            }
        }
        return false;
    }

    void refuteAwaitedKey()
    {
        index.refuteKey(awaitedKey);
        awaitedKey = -1;
        keyRefuted = true;
    }

    Admission admit()
    {
        const std::int64_t time = incoming->pts != AV_NOPTS_VALUE ? incoming->pts : incoming->best_effort_timestamp;
        if (awaitedKey >= 0) {
            const VideoPacketIndex::Packet& key = index.packet(awaitedKey);
            const bool timed = key.time != AV_NOPTS_VALUE && time != AV_NOPTS_VALUE;
            // Shown before the key frame: it belongs to the group before, which this decode lacks.
            if (timed && time < key.time)
                return Admission::Dropped;
            const bool real = (!timed || time == key.time) && incoming->key_frame &&
                              !(incoming->flags & AV_FRAME_FLAG_CORRUPT) && incoming->decode_error_flags == 0;
            if (!real) {
                refuteAwaitedKey();
                return Admission::Refuted;
            }
            shownIndex = index.firstFrameFrom(awaitedKey);
            awaitedKey = -1;
        } else {
            ++shownIndex;
        }
        av_frame_unref(shown);
        av_frame_move_ref(shown, incoming);
        return Admission::Shown;
    }

    // The next frame in showing order into `shown`; false at the end of the stream or
    // when the awaited key packet did not decode as a key frame.
    bool decodeNext()
    {
        for (;;) {
            const int received = avcodec_receive_frame(codec, incoming);
            if (received == 0) {
                const Admission admission = admit();
                av_frame_unref(incoming);
                if (admission == Admission::Shown)
                    return true;
                if (admission == Admission::Refuted)
                    return false;
                continue;
            }
            if (received == AVERROR_EOF || flushed) {
                // A decoder may hold back every frame that lacks its references.
                if (awaitedKey >= 0)
                    refuteAwaitedKey();
                return false;
            }
            int which = pendingIndex;
            if (packetPending || readPacket(which)) {
                packetPending = false;
                index.learnTime(which, packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts);
                nextPacket = which + 1;
                // A packet that fails to decode shows no frame, in a sequential decode as here.
                avcodec_send_packet(codec, packet);
                av_packet_unref(packet);
            } else {
                avcodec_send_packet(codec, nullptr);
                flushed = true;
            }
        }
    }

    // Decodes on to frame `frame`; false when the stream ends first or a request
    // interrupts.
    bool decodeOnTo(int frame)
    {
        while (shownIndex < frame) {
            if ((interrupted && interrupted()) || !decodeNext())
                return false;
        }
        return shownIndex == frame;
    }

    bool decodeFromStartTo(int frame)
    {
        if (!startAt(0))
            return false;
        return decodeOnTo(frame);
    }

    // Decodes up to frame `frame` and holds it for the next grab.
    bool seek(int frame)
    {
        if (frame < 0 || frame >= index.frameCount())
            return false;
        // Ahead in the same group of pictures: decoding on is cheaper than starting over.
        const bool decodeOn = shownIndex >= 0 && frame > shownIndex && index.keyCandidateFor(frame) < nextPacket;
        if (!decodeOn) {
            int limit = frame;
            for (;;) {
                const int key = limit < 0 ? -1 : index.keyCandidateFor(limit);
                if (key <= 0) {
                    frameHeld = decodeFromStartTo(frame);
                    return frameHeld;
                }
                if (!startAt(key)) {
                    limit = index.packet(key).framesBefore - 1;
                    continue;
                }
                awaitedKey = key;
                if (!decodeNext()) {
                    if (keyRefuted)
                        continue;
                    return false;
                }
                if (shownIndex <= frame)
                    break;
                limit = index.packet(key).framesBefore - 1;
            }
        }
        frameHeld = decodeOnTo(frame);
        return frameHeld;
    }

    bool convert(cv::Mat& image)
    {
        return shownIndex >= 0 && shown->data[0] && converter->convert(*shown, codec->coded_width, codec->coded_height, image);
    }

    // The container's rate, unless the frames' times tell another: a camera that
    // drops frames leaves gaps in an AVI's fixed rate (68 frames over 29 s at "15 fps").
    double framesPerSecond() const
    {
        const AVStream* video = format->streams[stream];
        const AVRational rate = video->avg_frame_rate.num > 0 ? video->avg_frame_rate : video->r_frame_rate;
        const double container = rate.den > 0 ? av_q2d(rate) : 0.0;
        const double span = static_cast<double>(index.timeSpan()) * av_q2d(video->time_base);
        if (index.frameCount() < 2 || !(span > 0.0))
            return container;
        const double timed = (index.frameCount() - 1) / span;
        return std::abs(timed - container) > kRateTolerance * container ? timed : container;
    }

    double shownMilliseconds() const
    {
        const AVStream* video = format->streams[stream];
        if (shownIndex < 0 || shown->best_effort_timestamp == AV_NOPTS_VALUE)
            return 0.0;
        const std::int64_t start = video->start_time != AV_NOPTS_VALUE ? video->start_time : 0;
        return static_cast<double>(shown->best_effort_timestamp - start) * av_q2d(video->time_base) * 1000.0;
    }
};

VideoFileCapture::VideoFileCapture() = default;
VideoFileCapture::~VideoFileCapture() = default;

bool VideoFileCapture::open(const std::string& path)
{
    decoder = std::make_unique<Decoder>();
    if (!decoder->open(path))
        decoder.reset();
    else
        decoder->interrupted = seekInterrupted;
    return decoder != nullptr;
}

void VideoFileCapture::interruptSeeksWhen(std::function<bool()> pending)
{
    seekInterrupted = std::move(pending);
    if (decoder)
        decoder->interrupted = seekInterrupted;
}

bool VideoFileCapture::isOpened() const
{
    return decoder != nullptr;
}

void VideoFileCapture::release()
{
    decoder.reset();
}

bool VideoFileCapture::grab()
{
    if (!decoder)
        return false;
    if (decoder->frameHeld) {
        decoder->frameHeld = false;
        return true;
    }
    return decoder->decodeNext();
}

bool VideoFileCapture::retrieve(cv::Mat& image)
{
    if (!decoder || !decoder->convert(image)) {
        image.release();
        return false;
    }
    return true;
}

bool VideoFileCapture::set(int property, double value)
{
    if (!decoder || property != cv::CAP_PROP_POS_FRAMES || !std::isfinite(value))
        return false;
    return decoder->seek(static_cast<int>(value));
}

double VideoFileCapture::get(int property) const
{
    if (!decoder)
        return 0.0;
    switch (property) {
    case cv::CAP_PROP_FRAME_COUNT: return decoder->index.frameCount();
    case cv::CAP_PROP_FPS: return decoder->framesPerSecond();
    case cv::CAP_PROP_POS_FRAMES: return decoder->shownIndex + 1;
    case cv::CAP_PROP_POS_MSEC: return decoder->shownMilliseconds();
    default: return 0.0;
    }
}
