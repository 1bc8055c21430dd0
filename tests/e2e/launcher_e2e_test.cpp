// Whole launcher images, packed by talvik and run under Wine with the probe as the application.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

#include "tests/e2e/e2e_support.hpp"
#include "tools/image/embedded_stub.hpp"
#include "tools/image/image_writer.hpp"

namespace {

namespace fs = std::filesystem;
using namespace e2e;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

bool all_digits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

enum class LauncherKind { console, windowed };

std::string kind_name(const ::testing::TestParamInfo<LauncherKind>& info) {
    return info.param == LauncherKind::console ? "Console" : "Windowed";
}

// An image around the probe and a few data files, unpacking to {CACHE_DIR}\TalvikE2E\<name>
// unless another template is given. A console image unless a test says otherwise; a windowed
// one is packed with --windowed and handed the runner's standard handles explicitly, as its
// kind needs (on Windows a GUI program inherits none).
class LauncherImage : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(probe_exe()) || local_appdata().empty()) {
            GTEST_SKIP() << "needs the Windows build and an initialised Wine prefix";
        }
        // "Case/Windowed" for the cases run with both kinds: one folder, not two.
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        work = fresh_dir(name);
        app = work / "app";
        fs::create_directories(app);
        fs::copy_file(probe_exe(), app / "probe.exe");
        write_file(app / "data" / "levels" / "one.txt", "level one\n");
        write_file(app / "data" / "empty.bin", "");
        write_file(app / "readme.txt", std::string(100000, 'r'));
        target = local_appdata() / "TalvikE2E" / name;
        fs::remove_all(target);
    }

    void pack(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments{"pack", app.string(), "-o", image().string()};
        bool has_template = std::find(extra.begin(), extra.end(), "--template") != extra.end();
        if (!has_template) {
            arguments.insert(arguments.end(), {"--template", "{CACHE_DIR}\\TalvikE2E\\" + name});
        }
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        if (kind == LauncherKind::windowed) {
            arguments.push_back("--windowed");
        }
        std::string output;
        ASSERT_EQ(run_talvik(arguments, &output), 0) << output;
    }

    fs::path image() const { return work / "Launcher.exe"; }

    Outcome run(const std::string& arguments = "", const EnvironmentChanges& environment = {}) {
        std::string command_line = "Launcher.exe";
        if (!arguments.empty()) {
            command_line += " " + arguments;
        }
        return run_command_line(command_line, environment);
    }

    Outcome run_command_line(const std::string& command_line, const EnvironmentChanges& environment = {}) {
        return run_windows(work, command_line, environment,
                           kind == LauncherKind::windowed ? StandardHandles::passed
                                                          : StandardHandles::inherited);
    }

    LauncherKind kind = LauncherKind::console;
    std::string name;
    fs::path work;
    fs::path app;
    fs::path target;
};

TEST_F(LauncherImage, ReferenceBuildUnpacksUnderTheLocalApplicationDataFolder) {
    target = local_appdata() / "FernwickStudio" / "Orrin-Deck" / "1.20";
    fs::remove_all(target);
    pack({"--template", "{CACHE_DIR}\\FernwickStudio\\Orrin-Deck\\1.20", "--company", "Fernwick Studio",
          "--product", "Orrin Deck", "--version", "1.20.0.0"});
    Outcome outcome = run();
    ASSERT_EQ(outcome.exit_code, 0u) << outcome.err;
    ProbeReport report = parse_probe_report(outcome.out);
    ASSERT_TRUE(report.complete) << outcome.out;
    EXPECT_TRUE(lower(report.fields["module"])
                    .ends_with("\\appdata\\local\\fernwickstudio\\orrin-deck\\1.20\\probe.exe"))
        << report.fields["module"];
    EXPECT_EQ(read_file(target / "data" / "levels" / "one.txt"), "level one\n");
    EXPECT_EQ(read_file(target / "probe.exe"), read_file(probe_exe()));
    EXPECT_TRUE(fs::exists(target / "data" / "empty.bin"));
    EXPECT_EQ(outcome.err, "");
}

// The cases that hold for both kinds of image alike.
class EitherKind : public LauncherImage, public ::testing::WithParamInterface<LauncherKind> {
  protected:
    void SetUp() override {
        kind = GetParam();
        LauncherImage::SetUp();
    }
};

INSTANTIATE_TEST_SUITE_P(Kinds, EitherKind, ::testing::Values(LauncherKind::console, LauncherKind::windowed),
                         kind_name);

TEST_P(EitherKind, InheritedVariablesAreReplacedOrDiscarded) {
    pack();
    Outcome outcome = run("", {{"TALVIK_ONEFILE_PARENT", "424242"},
                               {"TALVIK_ONEFILE_START", "1"},
                               {"TALVIK_ONEFILE_TIME_US", "2"},
                               {"TALVIK_ONEFILE_RANDOM", "inherited"}});
    ASSERT_EQ(outcome.exit_code, 0u) << outcome.err;
    ProbeReport report = parse_probe_report(outcome.out);
    ASSERT_TRUE(report.complete);
    std::string parent = report.variables["TALVIK_ONEFILE_PARENT"];
    EXPECT_TRUE(all_digits(parent)) << parent;
    EXPECT_NE(parent, "424242");
    EXPECT_NE(parent, report.fields["pid"]) << "the launcher's id, not the child's";
    EXPECT_FALSE(report.variables.contains("TALVIK_ONEFILE_START"));
    EXPECT_FALSE(report.variables.contains("TALVIK_ONEFILE_TIME_US"));
    EXPECT_FALSE(report.variables.contains("TALVIK_ONEFILE_RANDOM"));
}

TEST_P(EitherKind, PublishedTemplateValuesReachTheChild) {
    pack({"--template", "{CACHE_DIR}\\TalvikE2E\\" + name + "\\{RANDOM}-{TIME_US}-{TIME}-{PID}"});
    Outcome outcome = run("", {{"TALVIK_ONEFILE_RANDOM", "inherited"}});
    ASSERT_EQ(outcome.exit_code, 0u) << outcome.err;
    ProbeReport report = parse_probe_report(outcome.out);
    std::string random = report.variables["TALVIK_ONEFILE_RANDOM"];
    std::string time_us = report.variables["TALVIK_ONEFILE_TIME_US"];
    std::string time = report.variables["TALVIK_ONEFILE_START"];
    std::string parent = report.variables["TALVIK_ONEFILE_PARENT"];
    EXPECT_EQ(random.size(), 11u);
    EXPECT_NE(random, "inherited");
    EXPECT_EQ(time_us.size(), 6u);
    EXPECT_TRUE(all_digits(time_us));
    EXPECT_TRUE(all_digits(time));
    std::string expected_folder = "\\" + random + "-" + time_us + "-" + time + "-" + parent + "\\probe.exe";
    EXPECT_TRUE(report.fields["module"].ends_with(expected_folder)) << report.fields["module"];
}

TEST_F(LauncherImage, BraceOutsideATokenShortVersionAndExcludes) {
    // The launcher keeps the "}" as text, and {VERSION} gets the version as pack wrote it.
    pack({"--template", "{CACHE_DIR}\\TalvikE2E\\" + name + "\\}v{VERSION}", "--version", "01.2.3",
          "--exclude", "data/"});
    Outcome outcome = run();
    ASSERT_EQ(outcome.exit_code, 0u) << outcome.err;
    ProbeReport report = parse_probe_report(outcome.out);
    ASSERT_TRUE(report.complete) << outcome.out;
    EXPECT_TRUE(report.fields["module"].ends_with("\\" + name + "\\}v1.2.3.0\\probe.exe"))
        << report.fields["module"];
    auto files = snapshot_tree(target / "}v1.2.3.0");
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0].first, ".talvik-lock");
    EXPECT_EQ(files[1].first, ".talvik-stamp");
    EXPECT_EQ(files[2].first, "probe.exe");
    EXPECT_EQ(files[3].first, "readme.txt");
}

TEST_P(EitherKind, SecondStartWritesNothingAndStartsTheSameChild) {
    pack();
    Outcome first = run();
    ASSERT_EQ(first.exit_code, 0u) << first.err;
    auto before = snapshot_tree(target);
    // Four files, the lock file the first start wrote them under and its stamp.
    ASSERT_EQ(before.size(), 6u);
    Outcome second = run();
    ASSERT_EQ(second.exit_code, 0u) << second.err;
    // Every file keeps its time, the empty one, the lock file and the stamp too.
    EXPECT_EQ(snapshot_tree(target), before);
    EXPECT_EQ(parse_probe_report(second.out).fields["module"],
              parse_probe_report(first.out).fields["module"]);
}

TEST_F(LauncherImage, ChangedFileIsRewrittenOnTheNextStart) {
    pack();
    ASSERT_EQ(run().exit_code, 0u);
    write_file(target / "data" / "levels" / "one.txt", "tampered");
    ASSERT_EQ(run().exit_code, 0u);
    EXPECT_EQ(read_file(target / "data" / "levels" / "one.txt"), "level one\n");
}

TEST_P(EitherKind, HandOverVariablesAndDirectory) {
    pack();
    struct Case {
        std::string command_line;
        std::string argv0;
    };
    const std::string full = windows_path(image());
    const Case cases[] = {{"Launcher.exe", "Launcher.exe"},
                          {".\\Launcher.exe a", ".\\Launcher.exe"},
                          {quote_argument(full) + " a", full}};
    for (const Case& c : cases) {
        Outcome outcome = run_command_line(c.command_line);
        ASSERT_EQ(outcome.exit_code, 0u) << c.command_line << "\n" << outcome.err;
        ProbeReport report = parse_probe_report(outcome.out);
        EXPECT_EQ(report.variables["TALVIK_ORIGINAL_ARGV0"], c.argv0);
        EXPECT_EQ(report.variables["TALVIK_ONEFILE_DIRECTORY"], windows_path(work));
        EXPECT_FALSE(report.variables["TALVIK_ONEFILE_DIRECTORY"].ends_with("\\"));
        // Argument 0 of the child is the launcher's full path; the child starts in the launcher's directory.
        ASSERT_FALSE(report.argv.empty());
        EXPECT_EQ(lower(report.argv[0]), lower(full));
        EXPECT_EQ(lower(report.fields["cwd"]), lower(windows_path(work)));
        // The launcher's own standard output and error: the runner's files.
        EXPECT_EQ(report.fields["stdout"], "disk");
        EXPECT_EQ(report.fields["stderr"], "disk");
    }
}

TEST_P(EitherKind, ArgumentsReachTheChildUnchanged) {
    pack();
    const std::vector<std::string> arguments = {
        "a",          "b c",     "",         "tab\there",         "quote\"inside",   "back\\",
        "dir with\\", "\\\\\"x", "last one", "\xc3\xa9t\xc3\xa9", "\xf0\x9f\x83\x8f"};
    std::string command_line;
    for (const std::string& argument : arguments) {
        if (!command_line.empty()) {
            command_line += ' ';
        }
        command_line += quote_argument(argument);
    }
    Outcome outcome = run(command_line);
    ASSERT_EQ(outcome.exit_code, 0u) << outcome.err;
    ProbeReport report = parse_probe_report(outcome.out);
    ASSERT_EQ(report.argv.size(), arguments.size() + 1) << outcome.out;
    for (size_t i = 0; i < arguments.size(); ++i) {
        EXPECT_EQ(report.argv[i + 1], arguments[i]) << "argument " << i + 1;
    }
}

TEST_P(EitherKind, ChildExitCodesPassThroughBitForBit) {
    pack();
    for (uint32_t code : {0u, 3u, 2u, 0xC0000005u, 0xFFFFFFFFu}) {
        char text[16];
        snprintf(text, sizeof text, "0x%X", code);
        Outcome outcome = run(std::string("--quiet --exit ") + text);
        ASSERT_TRUE(outcome.exit_code.has_value()) << outcome.err;
        EXPECT_EQ(*outcome.exit_code, code);
        EXPECT_EQ(outcome.out, "");
    }
}

TEST_F(LauncherImage, WindowedImageWithoutStandardHandlesStillRunsItsChild) {
    // As started from Explorer: no console and no handles for the launcher or the child.
    kind = LauncherKind::windowed;
    pack();
    Outcome outcome = run_windows(work, "Launcher.exe --exit 0x8000002A a", {}, StandardHandles::none);
    EXPECT_EQ(outcome.exit_code, 0x8000002Au);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(read_file(target / "probe.exe"), read_file(probe_exe()));
    EXPECT_EQ(read_file(target / "data" / "levels" / "one.txt"), "level one\n");
}

TEST_F(LauncherImage, SignedImageRunsTheSameAndVerifies) {
    pack({"--company", "Fernwick Studio", "--product", "Orrin Deck", "--version", "1.20.0.0"});
    // A self-signed code-signing certificate of the test's own, which also serves as the CA.
    std::string output;
    ASSERT_EQ(run_command({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                           "key.pem", "-out", "cert.pem", "-days", "2", "-subj", "/CN=Talvik test signer",
                           "-addext", "extendedKeyUsage=codeSigning"},
                          work, &output),
              0)
        << output;
    ASSERT_EQ(run_command({"/usr/bin/osslsigncode", "sign", "-certs", "cert.pem", "-key", "key.pem", "-n",
                           "Orrin Deck", "-in", "Launcher.exe", "-out", "Signed.exe"},
                          work, &output),
              0)
        << output;
    EXPECT_EQ(run_command({"/usr/bin/osslsigncode", "verify", "-CAfile", "cert.pem", "-in", "Signed.exe"},
                          work, &output),
              0)
        << output;
    EXPECT_NE(output.find("Signature verification: ok"), std::string::npos) << output;

    // The attached data lies inside the signed range: a changed byte in it breaks the signature.
    std::string signed_image = read_file(work / "Signed.exe");
    std::string tampered = signed_image;
    size_t attached = signed_image.find(std::string("KAY\x28\xB5\x2F\xFD", 7));
    ASSERT_NE(attached, std::string::npos);
    tampered[attached + 100] ^= 1;
    write_file(work / "Tampered.exe", tampered);
    EXPECT_NE(run_command({"/usr/bin/osslsigncode", "verify", "-CAfile", "cert.pem", "-in", "Tampered.exe"},
                          work, &output),
              0)
        << output;

    Outcome unsigned_run = run("a \"b c\" --exit 7");
    Outcome signed_run = run_windows(work, "Signed.exe a \"b c\" --exit 7");
    ASSERT_EQ(signed_run.exit_code, 7u) << signed_run.err;
    ASSERT_EQ(unsigned_run.exit_code, 7u) << unsigned_run.err;
    ProbeReport unsigned_report = parse_probe_report(unsigned_run.out);
    ProbeReport signed_report = parse_probe_report(signed_run.out);
    ASSERT_TRUE(signed_report.complete) << signed_run.out;
    EXPECT_EQ(std::vector<std::string>(signed_report.argv.begin() + 1, signed_report.argv.end()),
              std::vector<std::string>(unsigned_report.argv.begin() + 1, unsigned_report.argv.end()));
    EXPECT_EQ(signed_report.fields["module"], unsigned_report.fields["module"]) << "the same tree";
    EXPECT_EQ(signed_report.variables["TALVIK_ONEFILE_DIRECTORY"],
              unsigned_report.variables["TALVIK_ONEFILE_DIRECTORY"]);
    EXPECT_EQ(signed_run.err, "");
    EXPECT_EQ(run_command({TALVIK_TOOL, "list", "Signed.exe"}, work, &output), 0) << output;
}

// A ready block of attached data that talvik pack refuses (it checks every block it is
// given), written into an image by the image writer itself, as someone else's tool might.
class AttachedDataImage : public LauncherImage {
  protected:
    void pack_block(const std::string& block, const std::string& path_template = "") {
        std::string chosen = path_template.empty() ? "{CACHE_DIR}\\TalvikE2E\\" + name : path_template;
        CheckedStub stub = checked_embedded_stub();
        ImagePlan plan = plan_image(
            stub, BuildTexts{std::u16string(chosen.begin(), chosen.end()), u"Talvik", u"E2E", u"1.0.0.0"},
            {});
        plan.subsystem = kind == LauncherKind::windowed ? subsystem_windows_gui : subsystem_windows_console;
        write_image(plan, image(), [&](const AttachedDataSink& sink) {
            sink(reinterpret_cast<const unsigned char*>(block.data()), block.size());
        });
    }

    // 'K','A','Y', a one-block frame of the given content, zero bytes to a multiple of 8, the
    // count. The block is raw (type 0) unless another type is given; 3 is reserved, and no
    // decoder takes it.
    static std::string block_of(const std::string& header, const std::string& content,
                                unsigned block_type = 0) {
        std::string frame = "\x28\xB5\x2F\xFD";
        frame += '\x20'; // single segment, one-byte content size
        frame += static_cast<char>(content.size());
        unsigned block_header = static_cast<unsigned>(content.size() << 3) | block_type << 1 | 1; // last
        frame += static_cast<char>(block_header & 0xFF);
        frame += static_cast<char>((block_header >> 8) & 0xFF);
        frame += static_cast<char>((block_header >> 16) & 0xFF);
        frame += content;
        std::string block = header + frame;
        block.append((8 - block.size() % 8) % 8, '\0');
        uint64_t count = block.size();
        for (int i = 0; i < 8; ++i) {
            block += static_cast<char>((count >> (8 * i)) & 0xFF);
        }
        return block;
    }
};

// The failures print the same lines with the same statuses from both kinds of image, when
// the standard handles lead to files.
class EitherKindOfAttachedData : public AttachedDataImage,
                                 public ::testing::WithParamInterface<LauncherKind> {
  protected:
    void SetUp() override {
        kind = GetParam();
        AttachedDataImage::SetUp();
    }
};

INSTANTIATE_TEST_SUITE_P(Kinds, EitherKindOfAttachedData,
                         ::testing::Values(LauncherKind::console, LauncherKind::windowed), kind_name);

TEST_P(EitherKindOfAttachedData, BadHeaderStopsBeforeAnythingIsUnpacked) {
    pack_block(block_of("KAZ", std::string("\0\0", 2)));
    Outcome outcome = run();
    EXPECT_EQ(outcome.exit_code, 2u);
    EXPECT_EQ(outcome.out, "Error, couldn't find attached data header.\r\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_FALSE(fs::exists(target));
}

TEST_P(EitherKindOfAttachedData, UndecodableFrameGivesTheDecodeMessage) {
    pack_block(block_of("KAY", std::string("\0\0", 2), 3));
    Outcome outcome = run();
    EXPECT_EQ(outcome.exit_code, 2u);
    EXPECT_EQ(outcome.out, "Error, couldn't decode attached data.\r\n");
    EXPECT_EQ(outcome.err, "");
}

TEST_F(AttachedDataImage, BareStubReportsTheMissingAttachedData) {
    // The stub as built has an empty descriptor: no constants and no attached data.
    fs::copy_file(win_build_dir() / "talvik-stub.exe", image());
    Outcome outcome = run();
    EXPECT_EQ(outcome.exit_code, 2u);
    EXPECT_EQ(outcome.out, "Error, couldn't find attached data header.\r\n");
    EXPECT_EQ(outcome.err, "");
}

TEST_P(EitherKindOfAttachedData, StreamWithOnlyTheEndMarkerGivesTheLaunchMessage) {
    pack_block(block_of("KAY", std::string("\0\0", 2)));
    Outcome outcome = run();
    EXPECT_EQ(outcome.exit_code, 2u);
    EXPECT_EQ(outcome.out, "");
    EXPECT_TRUE(outcome.err.starts_with("Error, couldn't launch child ([Error ")) << outcome.err;
    EXPECT_TRUE(outcome.err.ends_with(")\r\n")) << outcome.err;
}

TEST_P(EitherKindOfAttachedData, FailingTemplateIsReportedBeforeTheHeaderTest) {
    // talvik pack refuses unknown tokens, so the image's template is changed afterwards:
    // {CACHE_DIR} becomes {CACHE_FOO}, same length, in the UTF-16 text of the constants.
    pack_block(block_of("KAZ", std::string("\0\0", 2)), "{CACHE_DIR}\\TalvikE2E\\bad");
    std::string bytes = read_file(image());
    auto utf16 = [](const std::string& text) {
        std::string wide;
        for (char c : text) {
            wide += c;
            wide += '\0';
        }
        return wide;
    };
    size_t at = bytes.find(utf16("{CACHE_DIR}\\TalvikE2E\\bad"));
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, utf16("{CACHE_FOO}").size(), utf16("{CACHE_FOO}"));
    write_file(image(), bytes);

    Outcome outcome = run();
    EXPECT_EQ(outcome.exit_code, 3u) << "abnormal end, not status 2";
    EXPECT_EQ(outcome.out, "") << "no header message";
    EXPECT_EQ(outcome.err, "Error, couldn't runtime expand spec '{CACHE_FOO}\\TalvikE2E\\bad'.\r\n");
}

} // namespace
