// Remembered permission answers: origins, the stored form read from hostile data, and limits.
#include "permissions/permission_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace qv {

namespace {

using D = PermissionDecision;
using K = PermissionKind;

struct OriginCase {
    const char* url;
    std::optional<std::string> origin;
};

const OriginCase kOriginCases[] = {
    { "https://Example.COM/path?q#f", "https://example.com" },
    { "http://127.0.0.1:8080/page", "http://127.0.0.1:8080" },
    { "https://example.com:443/", "https://example.com" },
    { "http://example.com:80/", "http://example.com" },
    { "HTTP://example.com:0080/", "http://example.com" },
    { "https://example.com:8443", "https://example.com:8443" },
    { "http://[::1]:9000/", "http://[::1]:9000" },
    { "https://user:pw@example.com/", std::nullopt },
    { "file:///home/user/page.html", std::nullopt },
    { "about:blank", std::nullopt },
    { "data:text/html,hi", std::nullopt },
    { "https:///nohost", std::nullopt },
    { "https://exa%20mple.com/", std::nullopt },
    { "https://example.com:99999/", std::nullopt },
    { "", std::nullopt },
};

TEST(PermissionStoreTest, OriginOfEachAddress)
{
    for (const OriginCase& c : kOriginCases)
        EXPECT_EQ(permissionOriginForURL(c.url), c.origin) << c.url;
}

struct StoredCase {
    const char* name;
    const char* stored;
    std::vector<RememberedPermission> profileP; // what profile "p" keeps
};

const StoredCase kStoredCases[] = {
    { "well formed", R"({"p": {"https://a.test": {"camera": "allow", "microphone": "deny"}}})",
        { { "https://a.test", K::Camera, D::Allow }, { "https://a.test", K::Microphone, D::Deny } } },
    { "every kind name", R"({"p": {"http://b.test:81": {"screen": "deny", "location": "allow",
        "notifications": "allow", "clipboard": "deny", "pointer-lock": "allow",
        "device-info": "allow", "media-keys": "deny", "storage-access": "allow"}}})",
        { { "http://b.test:81", K::Screen, D::Deny }, { "http://b.test:81", K::Location, D::Allow },
            { "http://b.test:81", K::Notifications, D::Allow },
            { "http://b.test:81", K::Clipboard, D::Deny },
            { "http://b.test:81", K::PointerLock, D::Allow },
            { "http://b.test:81", K::DeviceInfo, D::Allow },
            { "http://b.test:81", K::MediaKeys, D::Deny },
            { "http://b.test:81", K::StorageAccess, D::Allow } } },
    { "not an object", R"(["p"])", {} },
    { "profile not an object", R"({"p": "https://a.test"})", {} },
    { "origin not an object", R"({"p": {"https://a.test": "allow"}})", {} },
    { "unknown kind and answer dropped",
        R"({"p": {"https://a.test": {"teleport": "allow", "camera": "yes", "microphone": true,
            "screen": "allow"}}})",
        { { "https://a.test", K::Screen, D::Allow } } },
    { "origins not in canonical form dropped",
        R"J({"p": {"https://A.test": {"camera": "allow"}, "https://a.test/": {"camera": "allow"},
            "https://a.test:443": {"camera": "allow"}, "javascript:alert(1)": {"camera": "allow"},
            "file://": {"camera": "allow"}, "https://ok.test": {"camera": "deny"}}})J",
        { { "https://ok.test", K::Camera, D::Deny } } },
    { "empty profile ID dropped", R"({"": {"https://a.test": {"camera": "allow"}}})", {} },
};

TEST(PermissionStoreTest, StoredFormReadsWhatIsSoundAndDropsTheRest)
{
    for (const StoredCase& c : kStoredCases) {
        auto json = parseJson(c.stored);
        ASSERT_TRUE(json) << c.name;
        PermissionStore store = PermissionStore::fromJson(*json);
        auto entries = store.entriesForProfile("p");
        auto expected = c.profileP;
        auto order = [](const RememberedPermission& a, const RememberedPermission& b) {
            return std::tie(a.origin, a.kind) < std::tie(b.origin, b.kind);
        };
        std::sort(expected.begin(), expected.end(), order);
        EXPECT_EQ(entries, expected) << c.name;
        // What is written reads back the same.
        EXPECT_EQ(PermissionStore::fromJson(store.toJson()).entriesForProfile("p"), entries)
            << c.name;
    }
}

struct DecisionCase {
    const char* name;
    std::vector<K> kinds;
    std::optional<D> decision;
};

TEST(PermissionStoreTest, SeveralKindsAnswerTogetherOnlyWhenAllAreKnown)
{
    PermissionStore store;
    ASSERT_TRUE(store.remember("p", "https://a.test", K::Camera, D::Allow));
    ASSERT_TRUE(store.remember("p", "https://a.test", K::Microphone, D::Allow));
    ASSERT_TRUE(store.remember("p", "https://a.test", K::Screen, D::Deny));
    const DecisionCase cases[] = {
        { "all allowed", { K::Camera, K::Microphone }, D::Allow },
        { "one denied", { K::Camera, K::Screen }, D::Deny },
        { "one unknown", { K::Camera, K::Location }, std::nullopt },
        { "none", {}, std::nullopt },
    };
    for (const DecisionCase& c : cases)
        EXPECT_EQ(store.decision("p", "https://a.test", c.kinds), c.decision) << c.name;
    EXPECT_EQ(store.decision("q", "https://a.test", { K::Camera }), std::nullopt);
    EXPECT_EQ(store.decision("p", "https://b.test", { K::Camera }), std::nullopt);

    EXPECT_TRUE(store.forget("p", "https://a.test", K::Screen));
    EXPECT_FALSE(store.forget("p", "https://a.test", K::Screen));
    EXPECT_EQ(store.decision("p", "https://a.test", K::Screen), std::nullopt);
    EXPECT_TRUE(store.forgetProfile("p"));
    EXPECT_TRUE(store.entriesForProfile("p").empty());
    EXPECT_TRUE(store.toJson().empty());
}

TEST(PermissionStoreTest, LimitsRefuseMoreOriginsAndProfiles)
{
    PermissionStore store;
    for (size_t i = 0; i < kMaxPermissionOriginsPerProfile; ++i)
        ASSERT_TRUE(store.remember("p", "https://s" + std::to_string(i) + ".test", K::Camera, D::Allow));
    EXPECT_FALSE(store.remember("p", "https://one-more.test", K::Camera, D::Allow));
    // A known origin still takes another kind.
    EXPECT_TRUE(store.remember("p", "https://s0.test", K::Microphone, D::Deny));
    for (size_t i = 1; i < kMaxPermissionProfiles; ++i)
        ASSERT_TRUE(store.remember("p" + std::to_string(i), "https://a.test", K::Camera, D::Allow));
    EXPECT_FALSE(store.remember("too-many", "https://a.test", K::Camera, D::Allow));
    EXPECT_FALSE(store.remember(std::string(kMaxPermissionProfileIDLength + 1, 'x'),
        "https://a.test", K::Camera, D::Allow));
    EXPECT_FALSE(store.remember("p1", "https://" + std::string(kMaxPermissionOriginLength, 'a') + ".test",
        K::Camera, D::Allow));
}

TEST(PermissionStoreTest, RequestTextNamesEveryKind)
{
    EXPECT_EQ(permissionRequestText({ K::Microphone, K::Camera }), "use your camera and microphone");
    EXPECT_EQ(permissionRequestText({ K::Camera, K::Screen }), "use your camera and share your screen");
    EXPECT_EQ(permissionRequestText({ K::Location }), "know your location");
    for (K kind : { K::Camera, K::Microphone, K::Screen, K::Location, K::Notifications,
             K::Clipboard, K::PointerLock, K::DeviceInfo, K::MediaKeys, K::StorageAccess })
        EXPECT_EQ(permissionKindFromName(permissionKindName(kind)), kind);
}

} // namespace

} // namespace qv
