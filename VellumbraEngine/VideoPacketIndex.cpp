#include "VideoPacketIndex.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <limits>

namespace {

// Frames decoded after a key frame but shown before it lie within the decoder's
// reordering window, which no codec makes longer than this.
constexpr int kReorderWindow = 32;

}  // namespace

bool VideoPacketIndex::build(AVFormatContext* format, int stream, std::int64_t fileSize)
{
    packets.clear();
    fromTable = buildFromContainerTable(format, stream, fileSize);
    if (!fromTable && !buildByDemuxing(format, stream))
        return false;
    finish();
    return !packets.empty();
}

// MP4 and indexed AVI files carry a table of every frame; it is only usable when it
// lists as many as the stream header announces. A file cut short keeps its table
// but loses the frames at its end, which lie past the file size.
bool VideoPacketIndex::buildFromContainerTable(AVFormatContext* format, int stream, std::int64_t fileSize)
{
    AVStream* video = format->streams[stream];
    const int entries = avformat_index_get_entries_count(video);
    if (video->nb_frames <= 0 || entries != video->nb_frames)
        return false;
    packets.reserve(static_cast<std::size_t>(entries));
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(video, i);
        if (entry->size <= 0 || entry->pos < 0 || (fileSize > 0 && entry->pos >= fileSize))
            continue;
        add(entry->timestamp, AV_NOPTS_VALUE, entry->pos, (entry->flags & AVINDEX_KEYFRAME) != 0,
            (entry->flags & AVINDEX_DISCARD_FRAME) != 0, fileSize > 0 && entry->pos + entry->size > fileSize);
    }
    return !packets.empty();
}

bool VideoPacketIndex::buildByDemuxing(AVFormatContext* format, int stream)
{
    AVPacket* packet = av_packet_alloc();
    if (!packet)
        return false;
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream && packet->size > 0) {
            const std::int64_t time = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            add(packet->dts, time, packet->pos, (packet->flags & AV_PKT_FLAG_KEY) != 0,
                (packet->flags & AV_PKT_FLAG_DISCARD) != 0, (packet->flags & AV_PKT_FLAG_CORRUPT) != 0);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return !packets.empty();
}

void VideoPacketIndex::add(std::int64_t dts, std::int64_t time, std::int64_t position, bool key, bool discarded,
                           bool partial)
{
    packets.push_back({dts, position, time, 0, key, discarded, false, partial});
}

void VideoPacketIndex::finish()
{
    frames = 0;
    byIdentity.clear();
    for (int i = 0; i < packetCount(); ++i) {
        Packet& entry = packets[static_cast<std::size_t>(i)];
        entry.framesBefore = frames;
        frames += entry.discarded ? 0 : 1;
        byIdentity.emplace(std::make_pair(fromTable ? 0 : entry.position, entry.dts), i);
    }
}

int VideoPacketIndex::find(std::int64_t position, std::int64_t dts) const
{
    const auto found = byIdentity.find(std::make_pair(fromTable ? 0 : position, dts));
    return found != byIdentity.end() ? found->second : -1;
}

void VideoPacketIndex::dropLastPacket()
{
    if (packets.empty())
        return;
    packets.pop_back();
    finish();
}

std::int64_t VideoPacketIndex::timeSpan() const
{
    // Decoding times where every packet has one: presentation times known for only
    // some packets would mix in the reordering delay.
    for (std::int64_t Packet::*timeOf : {&Packet::dts, &Packet::time}) {
        std::int64_t earliest = std::numeric_limits<std::int64_t>::max();
        std::int64_t latest = std::numeric_limits<std::int64_t>::min();
        bool complete = true;
        for (const Packet& entry : packets) {
            if (entry.discarded)
                continue;
            const std::int64_t time = entry.*timeOf;
            complete = complete && time != AV_NOPTS_VALUE;
            earliest = std::min(earliest, time);
            latest = std::max(latest, time);
        }
        if (complete && latest > earliest)
            return latest - earliest;
    }
    return 0;
}

int VideoPacketIndex::keyCandidateFor(int frame) const
{
    // The last packet whose frame comes at or before `frame` in decoding order.
    auto after = std::upper_bound(packets.begin(), packets.end(), frame,
                                  [](int wanted, const Packet& entry) { return wanted < entry.framesBefore; });
    for (auto it = std::make_reverse_iterator(after); it != packets.rend(); ++it) {
        if (it->claimedKey && !it->refuted)
            return static_cast<int>(std::distance(packets.begin(), it.base()) - 1);
    }
    return -1;
}

void VideoPacketIndex::learnTime(int packet, std::int64_t time)
{
    if (packet >= 0 && packet < packetCount() && time != AV_NOPTS_VALUE)
        packets[static_cast<std::size_t>(packet)].time = time;
}

int VideoPacketIndex::firstFrameFrom(int key) const
{
    const Packet& start = packet(key);
    int shownBefore = 0;
    const int end = std::min(packetCount(), key + 1 + kReorderWindow);
    for (int i = key + 1; i < end; ++i) {
        const Packet& later = packet(i);
        if (!later.discarded && later.time != AV_NOPTS_VALUE && start.time != AV_NOPTS_VALUE && later.time < start.time)
            ++shownBefore;
    }
    return start.framesBefore + shownBefore;
}
