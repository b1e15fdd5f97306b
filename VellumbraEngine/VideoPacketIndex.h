#pragma once
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

struct AVFormatContext;

// The packets of one video stream in decoding order, known without decoding: where
// each lies, when it is decoded and whether the container calls it a key frame.
// Frames are numbered by counting packets, the way a sequential decode counts them;
// which claimed key frames really are key frames is learned as seeks try them.
class VideoPacketIndex {
public:
    struct Packet {
        std::int64_t dts;
        std::int64_t position;
        // Presentation time: from the demuxer, or learned once the packet has been read.
        std::int64_t time;
        // Non-discarded packets before this one: the frames a sequential decode shows first.
        int framesBefore;
        bool claimedKey;
        bool discarded;
        bool refuted;
        // Cut off by the end of the file or flagged corrupt: whether it decodes to a
        // frame depends on the codec.
        bool partial;
    };

    // From the demuxer's own table when it lists every frame (cheap whatever the
    // length), else by reading every packet of the stream once. Packets past the end
    // of a cut-off file and empty ones are left out. False when the stream holds no packet.
    bool build(AVFormatContext* format, int stream, std::int64_t fileSize);

    int frameCount() const { return frames; }
    int packetCount() const { return static_cast<int>(packets.size()); }
    const Packet& packet(int index) const { return packets[static_cast<std::size_t>(index)]; }
    // The packet read at that file position with that dts; -1 if none. Several packets
    // share a position in some containers, and a container's table may give the
    // position of a packet's header rather than of its data.
    int find(std::int64_t position, std::int64_t dts) const;
    // For a last packet that turned out to show no frame.
    void dropLastPacket();

    // Time from the first frame to the last, in the stream's time base; 0 when the
    // packets do not all carry a time.
    std::int64_t timeSpan() const;

    // The last claimed, unrefuted key packet from which frame `frame` can be reached; -1 if none.
    int keyCandidateFor(int frame) const;
    void refuteKey(int packet) { packets[static_cast<std::size_t>(packet)].refuted = true; }
    void learnTime(int packet, std::int64_t time);
    // The frame a decode starting at key packet `key` shows first: frames of packets
    // decoded after it but shown before it (an open group of pictures) come first.
    int firstFrameFrom(int key) const;

private:
    bool buildFromContainerTable(AVFormatContext* format, int stream, std::int64_t fileSize);
    bool buildByDemuxing(AVFormatContext* format, int stream);
    void add(std::int64_t dts, std::int64_t time, std::int64_t position, bool key, bool discarded, bool partial);
    void finish();

    std::vector<Packet> packets;
    std::map<std::pair<std::int64_t, std::int64_t>, int> byIdentity;
    // Packets from the container's table are known by their dts alone.
    bool fromTable = false;
    int frames = 0;
};
