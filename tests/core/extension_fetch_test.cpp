// Extension fetches streaming in under the 4 MiB limit.
#include "extensions/extension_network.h"

#include <gtest/gtest.h>

namespace qv {

namespace {

ExtensionFetchRequest requestWithMethod(const char* method)
{
    auto request = extensionFetchRequest(
        Json { { "url", "http://127.0.0.1/x" }, { "options", { { "method", method } } } });
    return request.value();
}

} // namespace

struct FetchLimitCase {
    const char* name;
    const char* method;
    int status;
    std::optional<std::uint64_t> contentLength;
    std::vector<std::size_t> chunks;
    bool accepted;
    std::size_t chunksTaken; // chunks fed before the accumulator asked to stop
};

class ExtensionFetchLimit : public ::testing::TestWithParam<FetchLimitCase> { };

TEST_P(ExtensionFetchLimit, StopsAsSoonAsTheLimitIsPassed)
{
    const FetchLimitCase& c = GetParam();
    ExtensionFetchAccumulator body(requestWithMethod(c.method));
    std::size_t taken = 0;
    bool going = body.receiveResponse(c.status, c.contentLength);
    for (std::size_t size : c.chunks) {
        if (!going)
            break;
        ++taken;
        going = body.receiveBody(std::string(size, 'x'));
    }
    EXPECT_EQ(taken, c.chunksTaken);
    EXPECT_LE(body.receivedBytes(), kMaxExtensionFetchBodyBytes);
    BridgeReply reply = going ? body.finish("", Json::object()) : body.fail("cancelled");
    EXPECT_EQ(reply.ok(), c.accepted);
    if (!c.accepted) {
        EXPECT_EQ(reply.error(), kFetchLimitMessage);
        EXPECT_EQ(body.receivedBytes(), 0u);
    } else {
        std::size_t total = 0;
        for (std::size_t size : c.chunks)
            total += size;
        EXPECT_EQ(reply.value()["body"].get<std::string>().size(), total);
        EXPECT_EQ(reply.value()["status"], c.status);
    }
}

constexpr std::size_t kLimit = kMaxExtensionFetchBodyBytes;

INSTANTIATE_TEST_SUITE_P(Bodies, ExtensionFetchLimit,
    ::testing::Values(FetchLimitCase { "Small", "GET", 200, 5, { 5 }, true, 1 },
        FetchLimitCase {
            "ExactlyTheLimit", "GET", 200, kLimit, { kLimit / 2, kLimit / 2 }, true, 2 },
        FetchLimitCase { "OneByteMoreAnnounced", "GET", 200, kLimit + 1, { 1 }, false, 0 },
        FetchLimitCase {
            "OneByteMoreStreamed", "GET", 200, std::nullopt, { kLimit - 1, 1, 1, 100 }, false, 3 },
        FetchLimitCase { "LengthUnderstated", "POST", 200, 10, { kLimit, 1 }, false, 2 },
        FetchLimitCase { "HeadAnnouncesWithoutBody", "head", 200, kLimit * 4, {}, true, 0 },
        FetchLimitCase { "NotModifiedAnnouncesWithoutBody", "GET", 304, kLimit * 4, {}, true, 0 },
        FetchLimitCase { "NotFoundIsStillAReply", "GET", 404, 3, { 3 }, true, 1 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExtensionFetchAccumulator, TransportErrorsKeepTheirDescription)
{
    ExtensionFetchAccumulator body(requestWithMethod("GET"));
    body.receiveResponse(200, std::nullopt);
    EXPECT_EQ(body.fail("Connection refused").error(), "Connection refused");
    EXPECT_EQ(body.fail("").error(), kFetchFailedMessage);
}

TEST(ExtensionFetchAccumulator, ReportsTheFinalAddressAndBase64ForBinaryBodies)
{
    ExtensionFetchAccumulator body(requestWithMethod("GET"));
    body.receiveResponse(200, std::nullopt);
    body.receiveBody(std::string("\xff\xd8\xff", 3));
    BridgeReply reply = body.finish("http://127.0.0.1/final", Json { { "a", "b" } });
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(reply.value()["url"], "http://127.0.0.1/final");
    EXPECT_EQ(reply.value()["body"], "/9j/");
    EXPECT_EQ(reply.value()["bodyIsBase64"], true);
    EXPECT_EQ(reply.value()["headers"]["a"], "b");
}

// A download.save body is held to the same bound as a fetch, on disk instead of in memory.
TEST(ExtensionDownloadMeter, StopsAsSoonAsTheLimitIsPassed)
{
    struct Case {
        const char* name;
        std::optional<std::uint64_t> contentLength;
        std::vector<std::size_t> chunks;
        bool accepted;
        std::size_t chunksTaken;
    };
    const Case cases[] = {
        { "Small", 5, { 5 }, true, 1 },
        { "ExactlyTheLimit", kLimit, { kLimit / 2, kLimit / 2 }, true, 2 },
        { "OneByteMoreAnnounced", kLimit + 1, { 1 }, false, 0 },
        { "HugeAnnounced", std::uint64_t(1) << 62, { 1 }, false, 0 },
        { "OneByteMoreStreamed", std::nullopt, { kLimit - 1, 1, 1, 100 }, false, 3 },
        { "LengthUnderstated", 10, { kLimit, 1 }, false, 2 },
        { "OneHugeChunk", std::nullopt, { kLimit * 2 }, false, 1 },
    };
    for (const Case& c : cases) {
        ExtensionDownloadMeter meter;
        std::size_t taken = 0;
        bool going = meter.receiveResponse(c.contentLength);
        for (std::size_t size : c.chunks) {
            if (!going)
                break;
            ++taken;
            going = meter.receiveBody(size);
        }
        EXPECT_EQ(going, c.accepted) << c.name;
        EXPECT_EQ(meter.exceeded(), !c.accepted) << c.name;
        EXPECT_EQ(taken, c.chunksTaken) << c.name;
    }
    EXPECT_EQ(kMaxExtensionDownloadBytes, kMaxExtensionFetchBodyBytes);
}

} // namespace qv
