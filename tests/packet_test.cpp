// Packet framing, CRC and the acceptance of received datagrams. Framed packets
// are broadcast on loopback and captured by a BusPeer on port 6000.
#include "bus/Packet.h"
#include "bus/Socket.h"
#include "playback/PublicVariable.h"
#include "support/BusPeer.h"
#include "support/LoopbackBus.h"
#include "support/MessageRecorder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Ascii(const char* s) {
    return Bytes(s, s + std::strlen(s));
}

const Bytes LoopbackOctets = {0x7F, 0x00, 0x00, 0x01};
// The worked example: own 1/250, opcode 0x0002 to 1/20, payload 01 05.
const Bytes WorkedPacket = {0xAA, 0xAA, 0x0D, 0x01, 0xFA, 0xFF, 0xFD, 0x00,
                            0x02, 0x01, 0x14, 0x01, 0x05, 0x20, 0xE9};

// CRC-16/XMODEM computed bit by bit, independent of the table.
uint16_t BitwiseCRC(const Bytes& data) {
    uint16_t crc = 0;
    for (uint8_t b : data) {
        crc ^= static_cast<uint16_t>(b << 8);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

class BusFixture : public LoopbackBusTest {
  protected:
    void TearDown() override {
        LoopbackBusTest::TearDown();
        LocalIPOctets = {127, 0, 0, 1};
    }

    std::optional<ReceivedDatagram> Capture(int timeoutMs = 2000) {
        return peer.receiveFrom(pblBoundPort(), timeoutMs);
    }

    MessageRecorder messages;
};

// ---- CRC ------------------------------------------------------------------

TEST(PacketCrc, CheckValueTableAndBitwiseAgreement) {
    const Bytes digits = Ascii("123456789");
    EXPECT_EQ(CRC16(digits.data(), digits.size()), 0x31C3);
    EXPECT_EQ(CRC16Table[0], 0x0000);
    EXPECT_EQ(CRC16Table[1], 0x1021);
    EXPECT_EQ(CRC16Table[255], 0x1EF0);

    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        Bytes data(rng() % 300);
        for (auto& b : data)
            b = static_cast<uint8_t>(rng());
        ASSERT_EQ(CRC16(data.data(), data.size()), BitwiseCRC(data)) << "length " << data.size();
    }
}

TEST(PacketCrc, PackAndCheckTheWorkedExample) {
    MessageRecorder messages;
    Bytes body(WorkedPacket.begin() + 2, WorkedPacket.end() - 2);
    const Bytes before = body;
    pblPackCRC(body.data(), static_cast<int>(body.size()));
    EXPECT_EQ(PackCRCHigh, 0x20);
    EXPECT_EQ(PackCRCLow, 0xE9);
    EXPECT_EQ(body, before) << "the caller's bytes must not change";

    Bytes withCrc(WorkedPacket.begin() + 2, WorkedPacket.end());
    EXPECT_TRUE(pblCheckCRC(withCrc.data(), static_cast<int>(withCrc.size()) - 2));
    for (size_t i = 0; i < withCrc.size(); ++i) {
        Bytes flipped = withCrc;
        flipped[i] ^= 0x10;
        EXPECT_FALSE(pblCheckCRC(flipped.data(), static_cast<int>(flipped.size()) - 2))
            << "bit flipped in byte " << i;
    }
    EXPECT_TRUE(messages.messages.empty());
}

TEST(PacketCrc, BadArgumentsShowTheRoutineName) {
    MessageRecorder messages;
    const uint8_t byte = 0;
    pblPackCRC(&byte, -1);
    EXPECT_FALSE(pblCheckCRC(nullptr, 3));
    ASSERT_EQ(messages.messages.size(), 2u);
    EXPECT_EQ(messages.messages[0].kind, MsgKind::Error);
    EXPECT_TRUE(messages.messages[0].text.endsWith("(pblPackCRC)"))
        << messages.messages[0].text.toStdString();
    EXPECT_FALSE(messages.messages[0].text.startsWith("(")) << "the error's message comes first";
    EXPECT_EQ(messages.messages[1].kind, MsgKind::Error);
    EXPECT_TRUE(messages.messages[1].text.endsWith("(pblCheckCRC)"));
}

// ---- Framing and sending ----------------------------------------------------

using PacketFraming = BusFixture;

TEST_F(PacketFraming, WorkedExampleOnTheWire) {
    const uint8_t payload[] = {0x01, 0x05};
    pblSendBUF(payload, 2, 0x0002, 1, 20, false);
    const auto d = Capture();
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, Concat({LoopbackOctets, Ascii("ZEVIZARERE"), WorkedPacket}));
    EXPECT_EQ(d->bytes.size(), 29u);
    EXPECT_EQ(d->fromAddress, "127.0.0.1");
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(PacketFraming, HeaderCarriesTheChosenLocalAddress) {
    // Framed only: a datagram with this header must never be sent from a test.
    LocalIPOctets = {192, 168, 1, 10};
    std::array<uint8_t, UDPSendBufferSize> out{};
    const uint8_t payload[] = {0x01, 0x05};
    const int len = FrameDatagram(out, payload, 2, 0x0002, 1, 20, false);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + len),
              Concat({{0xC0, 0xA8, 0x01, 0x0A}, Ascii("ZEVIZARERE"), WorkedPacket}));
}

TEST_F(PacketFraming, LengthRuleAndCrcSpan) {
    struct Case {
        int n;
        bool longForm;
        uint8_t lengthByte;
    };
    const Case cases[] = {
        {0, false, 0x0B},
        {2, false, 0x0D},
        {69, false, 0x50},
        {70, false, 0xFF},
        {2, true, 0xFF},
        {0, true, 0xFF},
        {MaxPayloadSize, false, 0xFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("payload " + std::to_string(c.n) + (c.longForm ? " long form" : ""));
        Bytes payload(static_cast<size_t>(c.n));
        for (int i = 0; i < c.n; ++i)
            payload[i] = static_cast<uint8_t>(i * 7 + 3);
        pblSendBUF(payload.data(), c.n, 0xE3E0, 7, 9, c.longForm);
        const auto d = Capture();
        ASSERT_TRUE(d);
        const Bytes& g = d->bytes;
        ASSERT_EQ(g.size(), static_cast<size_t>(c.n) + 27);
        const Bytes header = {0xAA, 0xAA, c.lengthByte, 1, 250, 0xFF, 0xFD, 0xE3, 0xE0, 7, 9};
        EXPECT_EQ(Bytes(g.begin() + 14, g.begin() + 25), header);
        EXPECT_EQ(Bytes(g.begin() + 25, g.end() - 2), payload);
        // The CRC covers the length byte through the last payload byte: n + 9 bytes.
        const uint16_t crc = BitwiseCRC(Bytes(g.begin() + 16, g.end() - 2));
        EXPECT_EQ(g[g.size() - 2], crc >> 8);
        EXPECT_EQ(g[g.size() - 1], crc & 0xFF);
    }
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(PacketFraming, MagicAndOwnIdsAreReadAtEachSend) {
    struct Case {
        uint8_t generation;
        uint8_t ownSubnet;
        const char* magic;
    };
    const Case cases[] = {
        {3, 1, "ZEVIZARERE"}, {4, 2, "QUARTZLINK"}, {3, 3, "ZEVIZARERE"}, {255, 4, "QUARTZLINK"}};
    const uint8_t payload[] = {0x01, 0x05};
    for (const Case& c : cases) {
        SCOPED_TRACE("generation " + std::to_string(c.generation));
        BusGeneration = c.generation;
        OwnSubnetID = c.ownSubnet;
        pblSendBUF(payload, 2, 0x0002, 1, 20, false);
        const auto d = Capture();
        ASSERT_TRUE(d);
        EXPECT_EQ(Bytes(d->bytes.begin() + 4, d->bytes.begin() + 14), Ascii(c.magic));
        EXPECT_EQ(d->bytes[17], c.ownSubnet);
        EXPECT_TRUE(pblAcceptDatagram(d->bytes).has_value());
    }
}

TEST_F(PacketFraming, PayloadThatDoesNotFitIsReportedAndNotSent) {
    struct Case {
        int n;
        bool nullPayload;
    };
    const Case cases[] = {{MaxPayloadSize + 1, false}, {5000, false}, {-1, false}, {2, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE("payload " + std::to_string(c.n));
        messages.clear();
        const Bytes payload(c.n > 0 ? static_cast<size_t>(c.n) : 0u, 0x42);
        UDPSendBuffer.fill(0x5A);
        pblSendBUF(c.nullPayload ? nullptr : payload.data(), c.n, 0x0002, 1, 20, false);
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].kind, MsgKind::Error);
        const QString text = messages.messages[0].text;
        EXPECT_TRUE(text.endsWith("(pblSendBUF)")) << text.toStdString();
        EXPECT_GT(text.size(), QString("(pblSendBUF)").size()) << "the error's message comes first";
        EXPECT_EQ(UDPSendBuffer[0], 0x5A) << "the send buffer must stay untouched";
    }
    // A good packet afterwards is the first thing on the wire.
    const uint8_t payload[] = {0x01, 0x05};
    pblSendBUF(payload, 2, 0x0002, 1, 20, false);
    const auto d = Capture();
    ASSERT_TRUE(d);
    EXPECT_EQ(Bytes(d->bytes.begin() + 14, d->bytes.end()), WorkedPacket);
}

// ---- Acceptance -------------------------------------------------------------

Bytes Datagram(const Bytes& payload, bool longForm = false, uint16_t opcode = 0xE01C) {
    std::array<uint8_t, 2000> out{};
    const int len = FrameDatagram(out, payload.data(), static_cast<int>(payload.size()), opcode, 1,
                                  250, longForm);
    return Bytes(out.begin(), out.begin() + len);
}

// A datagram of any size with a length byte other than 0xFF and a right CRC,
// as a device might send one longer than its length byte can describe.
Bytes NormalDatagram(size_t payloadSize, uint8_t lengthByte) {
    Bytes d = Datagram(Bytes(payloadSize, 0x33));
    d[16] = lengthByte;
    const uint16_t crc = BitwiseCRC(Bytes(d.begin() + 16, d.end() - 2));
    d[d.size() - 2] = crc >> 8;
    d[d.size() - 1] = crc & 0xFF;
    return d;
}

Bytes BodyOf(const Bytes& datagram) {
    return Bytes(datagram.begin() + 16, datagram.end());
}

class PacketAccept : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetPublicVariables();
        OwnSubnetID = 2;
        OwnDeviceID = 9;
        BusGeneration = 3;
        LocalIPOctets = {127, 0, 0, 1};
    }
    MessageRecorder messages;
};

TEST_F(PacketAccept, RulesTable) {
    const Bytes valid = Datagram({0x03, 0xFF});
    auto with = [](Bytes d, size_t at, uint8_t value) {
        d[at] = value;
        return d;
    };
    auto flipped = [](Bytes d, size_t at, uint8_t mask) {
        d[at] ^= mask;
        return d;
    };

    // A long packet: L (bytes 25-26) = 2, body 13 bytes, CRC bytes garbage.
    Bytes longWrongCrc = Datagram({0x00, 0x02}, true);
    longWrongCrc[longWrongCrc.size() - 1] ^= 0xFF;
    // L = 0xFFFF: the body reaches far past the datagram and the receive buffer.
    const Bytes longFar = Datagram({0xFF, 0xFF, 0x11}, true);
    Bytes longFarBody(0xFFFF + 11, 0);
    std::copy(longFar.begin() + 16, longFar.end(), longFarBody.begin());
    // L = 0: the body is shorter than the datagram.
    const Bytes longShort = Datagram({0x00, 0x00, 0x44, 0x55}, true);

    // The length byte is not compared with the datagram's length.
    const Bytes lengthByteWrong = NormalDatagram(2, 0x20);

    // A long packet whose L is its payload length and which fills the receive buffer.
    Bytes bigPayload(UDPReceiveBufferSize - 27, 0x00);
    bigPayload[0] = static_cast<uint8_t>(bigPayload.size() >> 8);
    bigPayload[1] = static_cast<uint8_t>(bigPayload.size() & 0xFF);
    const Bytes bigLong = Datagram(bigPayload, true);
    const Bytes normalAtLimit = NormalDatagram(MaxNormalDatagramSize - 27, 0xFE);
    const Bytes normalOverLimit = NormalDatagram(MaxNormalDatagramSize - 26, 0xFE);

    struct Case {
        const char* name;
        Bytes datagram;
        std::optional<Bytes> body;
    };
    const Case cases[] = {
        {"valid", valid, BodyOf(valid)},
        {"second lead byte 0x55", with(valid, 15, 0x55), BodyOf(with(valid, 15, 0x55))},
        {"first lead byte 0x55", with(valid, 14, 0x55), std::nullopt},
        {"second lead byte 0x00", with(valid, 15, 0x00), std::nullopt},
        {"first lead byte 0xAB", with(valid, 14, 0xAB), std::nullopt},
        {"unknown magic", with(valid, 7, 'X'), BodyOf(valid)},
        {"other address octets", with(valid, 0, 10), BodyOf(valid)},
        {"payload bit flipped", flipped(valid, 25, 0x01), std::nullopt},
        {"CRC bit flipped", flipped(valid, 28, 0x80), std::nullopt},
        {"opcode bit flipped", flipped(valid, 21, 0x04), std::nullopt},
        {"length byte not the datagram's length", lengthByteWrong, BodyOf(lengthByteWrong)},
        {"26 bytes", Bytes(valid.begin(), valid.begin() + 26), std::nullopt},
        {"empty", Bytes{}, std::nullopt},
        {"long packet, wrong CRC", longWrongCrc, BodyOf(longWrongCrc)},
        {"long packet, L far beyond the buffer", longFar, longFarBody},
        {"long packet, L = 0", longShort, Bytes(longShort.begin() + 16, longShort.begin() + 27)},
        {"long packet filling the receive buffer", bigLong, BodyOf(bigLong)},
        {"longer than the receive buffer", Concat({bigLong, {0x00}}), std::nullopt},
        {"normal packet of 270 bytes", normalAtLimit, BodyOf(normalAtLimit)},
        {"normal packet longer than a length byte can say", normalOverLimit, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto body = pblAcceptDatagram(c.datagram);
        ASSERT_EQ(body.has_value(), c.body.has_value());
        if (body) {
            EXPECT_EQ(*body, *c.body);
            EXPECT_GE(body->size(), 11u);
        }
    }
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(PacketAccept, EveryTruncationOfANormalPacketIsDropped) {
    const Bytes full = Datagram({0x04, 0x01});
    ASSERT_TRUE(pblAcceptDatagram(full));
    for (size_t len = 0; len < full.size(); ++len) {
        // An exactly sized copy, so a read past the end shows under the sanitizers.
        const Bytes cut(full.begin(), full.begin() + len);
        EXPECT_FALSE(pblAcceptDatagram(cut)) << "length " << len;
    }
}

TEST_F(PacketAccept, EveryTruncationOfALongPacketReadsZerosPastTheDatagram) {
    const Bytes full = Datagram({0x00, 0x05, 0x10, 0x20, 0x30}, true);
    const size_t bodySize = 5 + 11;
    for (size_t len = 0; len <= full.size(); ++len) {
        const Bytes cut(full.begin(), full.begin() + len);
        const auto body = pblAcceptDatagram(cut);
        if (len < static_cast<size_t>(MinDatagramSize)) {
            EXPECT_FALSE(body) << "length " << len;
            continue;
        }
        ASSERT_TRUE(body) << "length " << len;
        ASSERT_EQ(body->size(), bodySize);
        for (size_t i = 0; i < bodySize; ++i)
            EXPECT_EQ((*body)[i], 16 + i < len ? full[16 + i] : 0)
                << "length " << len << " at " << i;
    }
}

} // namespace
