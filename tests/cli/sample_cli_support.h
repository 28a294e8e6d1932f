// The fixture shared by the end-to-end tests of a converter's sample through dodedoz-cli: a fresh
// company in a scratch folder, its operator renamed so that time stamps and notes are signed by a
// known name, the sample's setup files loaded, the clock fixed with DODEDOZ_NOW, and runs whose
// report, notes and messages show the scratch folder as <DIR> so that golden files never hold it.
//
// A test class derives from SampleCliTest and names its sample folder (and, where they differ
// from the defaults, its setup files, `company init` options, clock, operator and company name)
// in its constructor. A SetUp of its own calls this one first and stops on HasFatalFailure().
#pragma once

#include "cli_support.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace dz::cli::testing {

class SampleCliTest : public ::testing::Test {
protected:
    // `sampleFolder`: where Copy finds the samples; `setup`: files loaded in this order into the
    // fresh company.
    explicit SampleCliTest(fs::path sampleFolder, std::vector<fs::path> setup = {})
        : samples(std::move(sampleFolder)), setupFiles(std::move(setup)) {}

    void SetUp() override {
        ASSERT_FALSE(scratch.path().empty()) << "no scratch folder";
        dir = scratch.path();
        company = dir / "co";
        std::vector<std::string> args{"company", "init", company.string()};
        args.insert(args.end(), initOptions.begin(), initOptions.end());
        const CliResult init = Cli(args);
        ASSERT_EQ(init.status, 0) << init.err << init.out;
        std::string settings = Slurp(company / "company.toml");
        const std::string defaultOperator = "[operator]\nname = \"ADMIN\"\n";
        ASSERT_NE(settings.find(defaultOperator), std::string::npos) << settings;
        settings = ReplaceAll(settings, defaultOperator, "[operator]\nname = \"" + operatorName + "\"\n");
        if (!companyName.empty()) {
            const std::size_t at = settings.find("[company]\nversion = 1\nname = \"");
            ASSERT_NE(at, std::string::npos) << settings;
            const std::size_t end = settings.find('\n', settings.find("name = ", at));
            settings.replace(at, end + 1 - at, "[company]\nversion = 1\nname = \"" + companyName + "\"\n");
        }
        Spit(company / "company.toml", settings);
        for (const fs::path& file : setupFiles) {
            Load(file);
            if (HasFatalFailure()) return;
        }
    }

    // Loads `file` into the company.
    void Load(const fs::path& file) {
        const CliResult load = Cli({"load", "--company", company.string(), file.string()});
        ASSERT_EQ(load.status, 0) << file << "\n" << load.err << load.out;
    }

    CliResult Cli(const std::vector<std::string>& args) {
        return RunCli(args, dir, {{"DODEDOZ_NOW", now}}, Stderr::Apart, timeLimit);
    }

    std::string Shown(const std::string& text) const { return ReplaceAll(text, dir.string(), "<DIR>"); }

    // Runs `command` (examine, convert) on `text`, with the options `more`, the report and notes
    // written to files of the scratch folder; every text handed back shows the scratch folder as
    // <DIR>.
    CliResult Run(const std::string& command, const std::string& text, std::string& report, std::string& notes,
                  const std::vector<std::string>& more = {}) {
        const fs::path r = dir / "report.txt", n = dir / "notes.txt";
        fs::remove(r);
        fs::remove(n);
        std::vector<std::string> args{command, "--company", company.string(), "--report", r.string(),
                                      "--notes", n.string()};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(text);
        CliResult res = Cli(args);
        report = Shown(Slurp(r));
        notes = Shown(Slurp(n));
        res.err = Shown(res.err);
        res.out = Shown(res.out);
        return res;
    }

    // A copy of the sample `name` (a path under the sample folder) beside the company, named `as`
    // (by default its own name); its path.
    std::string Copy(const std::string& name, const std::string& as = "") {
        const fs::path p = dir / (as.empty() ? fs::path(name).filename() : fs::path(as));
        fs::copy_file(samples / name, p);
        return p.string();
    }

    // The GL master sample converted into the company (its prefixes, base accounts and accounts:
    // every other sample refers to them), in a folder of its own so that nothing of that run
    // stands beside the company.
    void ConvertGlMasterSample() {
        const fs::path folder = dir / "gl-sample", gl = folder / "demo-gl-master.txt";
        fs::create_directories(folder);
        fs::copy_file(fs::path(DZ_SOURCE_DATA_DIR) / "samples" / "glm" / "demo-gl-master.txt", gl);
        ASSERT_LE(Cli({"convert", "--company", company.string(), gl.string()}).status, 1);
    }

    // The text file `original` as a conversion at the default clock leaves it: the time-stamp line
    // naming the operator and `templateName` right after its first line.
    std::string Stamped(const fs::path& original, const std::string& templateName) const {
        const std::string text = Slurp(original);
        const std::size_t firstLine = text.find('\n') + 1;
        return text.substr(0, firstLine) + "#,\"Previously Converted\",\"by " + operatorName +
               "\",\"on 12/6/26\",\"at 2:30PM\",\"using " + templateName + "\"\n" + text.substr(firstLine);
    }

    // `dodedoz-cli dump` of the file `abbr`, with the options `more`.
    std::string Dump(const std::string& abbr, const std::vector<std::string>& more = {}) {
        std::vector<std::string> args{"dump", "--company", company.string(), abbr};
        args.insert(args.end(), more.begin(), more.end());
        const CliResult r = Cli(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }

    // The records of type `rec` in the dump of `abbr` (values without spaces): one map of field to
    // value per record, in the dump's order.
    std::vector<std::map<std::string, std::string>> DumpedRecords(const std::string& abbr, int rec) {
        std::vector<std::map<std::string, std::string>> out;
        const std::string start = "R" + std::to_string(rec) + " ";
        std::istringstream in(Dump(abbr));
        for (std::string line; std::getline(in, line);) {
            if (line.rfind(start, 0) != 0) continue;
            std::map<std::string, std::string> fields;
            std::istringstream words(line.substr(start.size()));
            for (std::string w; words >> w;)
                if (const auto eq = w.find('='); eq != std::string::npos) fields[w.substr(0, eq)] = w.substr(eq + 1);
            out.push_back(fields);
        }
        return out;
    }

    // The in-process goldens hold the report, then (when there are any) a form feed and the notes
    // pages; the command line writes the two to their own files. Compared joined the same way, so
    // a line that moved from one to the other still shows.
    static void ExpectReportAndNotes(const std::string& report, const std::string& notes, const fs::path& golden) {
        ExpectGolden(notes.empty() ? report : report + "\f" + notes, golden);
    }

    // Every file under `folder` with its bytes, but the report and notes of the last run.
    static std::map<std::string, std::string> Files(const fs::path& folder) {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(folder)) {
            const std::string name = e.path().filename().string();
            if (e.is_regular_file() && name != "report.txt" && name != "notes.txt")
                files[fs::relative(e.path(), folder).string()] = Slurp(e.path());
        }
        return files;
    }
    std::map<std::string, std::string> Files() const { return Files(dir); }

    fs::path samples;
    std::vector<fs::path> setupFiles;
    std::vector<std::string> initOptions;  // more options of `company init`
    std::string now = "2026-12-06 14:30:00";
    std::string operatorName = "Ann Lee";
    std::string companyName;  // empty: the name `company init` gives
    int timeLimit = 0;        // seconds a run may take (RunCli); 0: no limit

    ScratchFolder scratch;
    fs::path dir, company;
};

}  // namespace dz::cli::testing
