// The extension source viewer: listing, containment, reading, saving and the editor state.
#include "base/atomic_file.h"
#include "extensions/extension_source.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace fs = std::filesystem;

namespace {

std::string readText(const fs::path& path) { return readWholeFile(path).contents; }

void writeText(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    ASSERT_TRUE(writeFileAtomically(path, text).ok());
}

} // namespace

TEST(ExtensionSourceList, ListsFilesDepthFirstSortedIgnoringCaseWithoutHiddenItems)
{
    test::TempDir dir;
    fs::path root = dir / "ext";
    writeText(root / "manifest.json", "{}");
    writeText(root / "Zeta.js", "");
    writeText(root / "alpha.js", "");
    writeText(root / "lib" / "Util.js", "");
    writeText(root / ".git" / "config", "");
    writeText(root / "lib" / ".hidden.js", "");
    fs::create_directory(root / "empty");
    fs::create_directory_symlink(dir.path(), root / "outside");
    auto listing = listExtensionSourceFiles(root);
    std::vector<std::string> titles;
    for (auto& file : listing.files)
        titles.push_back(extensionSourceRowTitle(file, root));
    EXPECT_EQ(titles,
        (std::vector<std::string> {
            "alpha.js", "lib/Util.js", "manifest.json", "outside", "Zeta.js" }));
    EXPECT_FALSE(listing.truncated);
}

TEST(ExtensionSourceList, AWebsiteExtensionFolderListsItsManifest)
{
    test::TempDir dir;
    writeText(dir / "manifest.json", "{}");
    auto listing = listExtensionSourceFiles(dir.path());
    ASSERT_EQ(listing.files.size(), 1u);
    EXPECT_EQ(extensionSourceRowTitle(listing.files[0], dir.path()), "manifest.json");
    EXPECT_EQ(extensionSourceRowTitle("/elsewhere/file.js", dir.path()), "file.js");
    EXPECT_TRUE(listExtensionSourceFiles(dir / "missing").files.empty());
}

TEST(ExtensionSourceList, StopsAtTheFileLimit)
{
    test::TempDir dir;
    for (size_t i = 0; i <= kMaxExtensionSourceFiles; ++i)
        close(open((dir / ("f" + std::to_string(i))).c_str(), O_CREAT | O_WRONLY, 0644));
    auto listing = listExtensionSourceFiles(dir.path());
    EXPECT_EQ(listing.files.size(), kMaxExtensionSourceFiles);
    EXPECT_TRUE(listing.truncated);
}

struct ContainmentCase {
    const char* name;
    const char* target; // relative to the test folder
    bool inside;
};

class ExtensionSourceContainment : public ::testing::TestWithParam<ContainmentCase> { };

TEST_P(ExtensionSourceContainment, ResolvesLinksBeforeComparingFolders)
{
    test::TempDir dir;
    writeText(dir / "ext" / "a.js", "a");
    writeText(dir / "ext" / "sub" / "b.js", "b");
    writeText(dir / "extra" / "c.js", "c");
    writeText(dir / "secret.txt", "secret");
    fs::create_symlink(dir / "secret.txt", dir / "ext" / "escape.txt");
    fs::create_symlink("sub/b.js", dir / "ext" / "alias.js");
    fs::create_symlink(dir / "nowhere", dir / "ext" / "dangling.js");
    fs::create_directory_symlink(dir / "extra", dir / "ext" / "linked");
    fs::create_directory_symlink(dir / "ext", dir / "ext-link");
    auto contained = containedExtensionSourcePath(dir / "ext", dir / GetParam().target);
    EXPECT_EQ(contained.has_value(), GetParam().inside);
    // A root reached through a link gives the same answers.
    EXPECT_EQ(containedExtensionSourcePath(dir / "ext-link", dir / GetParam().target).has_value(),
        GetParam().inside);
}

INSTANTIATE_TEST_SUITE_P(Paths, ExtensionSourceContainment,
    ::testing::Values(ContainmentCase { "File", "ext/a.js", true },
        ContainmentCase { "Nested", "ext/sub/b.js", true },
        ContainmentCase { "NewFileInside", "ext/new.js", true },
        ContainmentCase { "LinkWithinTheFolder", "ext/alias.js", true },
        ContainmentCase { "LinkOutOfTheFolder", "ext/escape.txt", false },
        ContainmentCase { "FolderLinkOutOfTheFolder", "ext/linked/c.js", false },
        ContainmentCase { "DanglingLink", "ext/dangling.js", false },
        ContainmentCase { "DotDot", "ext/sub/../../secret.txt", false },
        ContainmentCase { "SiblingWithTheSamePrefix", "extra/c.js", false },
        ContainmentCase { "TheFolderItself", "ext", false },
        ContainmentCase { "TheFolderWithASlash", "ext/", false }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExtensionSourceLoad, AFileOfExactlyTheLimitLoadsAndOneByteMoreDoesNot)
{
    test::TempDir dir;
    writeText(dir / "exact.txt", std::string(kMaxExtensionSourceBytes, 'a'));
    writeText(dir / "over.txt", std::string(kMaxExtensionSourceBytes + 1, 'a'));
    auto exact = loadExtensionSourceFile(dir.path(), dir / "exact.txt");
    EXPECT_EQ(exact.outcome, SourceLoadOutcome::Loaded);
    EXPECT_EQ(exact.editorText.size(), kMaxExtensionSourceBytes);
    EXPECT_EQ(exact.status, "exact.txt · " + (dir / "exact.txt").string());
    auto over = loadExtensionSourceFile(dir.path(), dir / "over.txt");
    EXPECT_EQ(over.outcome, SourceLoadOutcome::TooLarge);
    EXPECT_EQ(over.editorText, kSourceTooLargeText);
}

TEST(ExtensionSourceLoad, BinaryFilesAndOutsideLinksAreNotShown)
{
    test::TempDir dir;
    fs::path root = dir / "ext";
    writeText(root / "icon.png", std::string("\x89PNG\r\n\x1a\n\xff", 9));
    writeText(dir / "secret.txt", "secret");
    fs::create_symlink(dir / "secret.txt", root / "escape.txt");
    mkfifo((root / "pipe").c_str(), 0644);
    auto image = loadExtensionSourceFile(root, root / "icon.png");
    EXPECT_EQ(image.outcome, SourceLoadOutcome::Unreadable);
    EXPECT_EQ(image.editorText.rfind("This file is not UTF-8 text or could not be read.\n", 0), 0u);
    EXPECT_EQ(image.status, "Could not read icon.png");
    auto escape = loadExtensionSourceFile(root, root / "escape.txt");
    EXPECT_EQ(escape.outcome, SourceLoadOutcome::Outside);
    EXPECT_EQ(escape.editorText.find("secret"), std::string::npos);
    EXPECT_EQ(loadExtensionSourceFile(root, root / "pipe").outcome, SourceLoadOutcome::Unreadable);
}

TEST(ExtensionSourceSave, WritesOnlyInsideTheFolder)
{
    test::TempDir dir;
    fs::path root = dir / "ext";
    writeText(root / "a.js", "old");
    writeText(dir / "secret.txt", "secret");
    fs::create_symlink(dir / "secret.txt", root / "escape.txt");
    auto saved = writeExtensionSourceFile(root, root / "a.js", "new");
    ASSERT_TRUE(saved.ok());
    EXPECT_NE(saved.value().find("turn the Extension off and on"), std::string::npos);
    EXPECT_EQ(readText(root / "a.js"), "new");

    auto escaped = writeExtensionSourceFile(root, root / "escape.txt", "overwritten");
    ASSERT_FALSE(escaped.ok());
    EXPECT_EQ(escaped.error(), kSourceOutsideSaveMessage);
    EXPECT_EQ(readText(dir / "secret.txt"), "secret");
    EXPECT_TRUE(fs::is_symlink(root / "escape.txt"));
    EXPECT_FALSE(writeExtensionSourceFile(root, root / "a.js", "\xff").ok());
    EXPECT_EQ(readText(root / "a.js"), "new");
}

TEST(ExtensionSourceEditor, AFailedOrRefusedLoadLeavesNothingToSave)
{
    test::TempDir dir;
    writeText(dir / "a.js", "a");
    writeText(dir / "big.js", std::string(kMaxExtensionSourceBytes + 1, 'b'));
    writeText(dir / "bin.js", "\xff");
    ExtensionSourceEditorState editor;
    for (const char* name : { "big.js", "bin.js" }) {
        editor.applyLoad(dir / "a.js", loadExtensionSourceFile(dir.path(), dir / "a.js"));
        ASSERT_TRUE(editor.editable());
        editor.applyLoad(dir / name, loadExtensionSourceFile(dir.path(), dir / name));
        EXPECT_FALSE(editor.editable()) << name;
        EXPECT_FALSE(editor.textChanged()) << name;
        EXPECT_FALSE(editor.dirty());
        auto save = editor.fileToSave();
        ASSERT_FALSE(save.ok());
        EXPECT_EQ(save.error(), kSourceSelectBeforeSaving);
    }
    editor.showMessage();
    EXPECT_FALSE(editor.fileToSave().ok());
}

TEST(ExtensionSourceEditor, OnlyTheUsersEditsMarkItDirty)
{
    test::TempDir dir;
    writeText(dir / "a.js", "a");
    writeText(dir / "b.js", "b");
    ExtensionSourceEditorState editor;
    {
        auto setting = editor.settingText();
        editor.applyLoad(dir / "a.js", loadExtensionSourceFile(dir.path(), dir / "a.js"));
        EXPECT_FALSE(editor.textChanged());
    }
    EXPECT_FALSE(editor.dirty());
    EXPECT_EQ(editor.selectionChanged(dir / "b.js"), ExtensionSourceEditorState::Selection::Load);
    EXPECT_EQ(editor.textChanged(), "Unsaved changes · a.js");
    EXPECT_TRUE(editor.dirty());
    EXPECT_EQ(editor.selectionChanged(dir / "a.js"), ExtensionSourceEditorState::Selection::Ignore);
    EXPECT_EQ(
        editor.selectionChanged(dir / "b.js"), ExtensionSourceEditorState::Selection::AskToSave);
    EXPECT_EQ(editor.fileToSave().value(), dir / "a.js");
    editor.saved(dir / "a.js");
    EXPECT_FALSE(editor.dirty());
    editor.textChanged();
    editor.discardEdits();
    EXPECT_EQ(editor.selectionChanged(dir / "b.js"), ExtensionSourceEditorState::Selection::Load);
}

} // namespace qv
