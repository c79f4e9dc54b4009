#include "cli/common/CommandLine.h"

#include "upload/ProgramVersion.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>

namespace toolcommon {

namespace {

// The GNU layout: "Usage: NAME [OPTION]...", the description, the groups of options (--help
// last), the footer.
// An option shows its value's name ("--port NAME") and nothing else: what it needs or excludes
// is said in its description.
class HelpLayout : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override {
        std::ostringstream out;
        out << "Usage: " << name << " [OPTION]...\n" << app->get_description() << "\n";
        (void)mode;
        for (const std::string& group : app->get_groups()) {
            auto options = app->get_options([&group](const CLI::Option* option) {
                return option->get_group() == group && option->nonpositional();
            });
            if (options.empty()) continue;
            // --version and --help last, where the programs' users have always found them.
            std::stable_partition(options.begin(), options.end(), [app](const CLI::Option* o) {
                return o != app->get_help_ptr() && o != app->get_version_ptr();
            });
            std::stable_partition(options.begin(), options.end(),
                                  [app](const CLI::Option* o) { return o != app->get_help_ptr(); });
            out << "\n" << group << ":\n";
            for (const CLI::Option* option : options)
                out << make_option(option, false);
        }
        const std::string footer = app->get_footer();
        if (!footer.empty()) out << "\n" << footer << "\n";
        return out.str();
    }
    // "-h, --help", as GNU programs write a short and a long name.
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        std::string names = CLI::Formatter::make_option_name(option, positional);
        for (std::size_t at = names.find(','); at != std::string::npos;
             at = names.find(',', at + 2))
            names.insert(at + 1, " ");
        return names;
    }
    std::string make_option_opts(const CLI::Option* option) const override {
        return option->get_type_size() == 0 ? std::string() : " " + option->get_type_name();
    }
};

} // namespace

void setUpCommandLine(CLI::App& app, const std::string& description, const std::string& footer,
                      std::size_t column) {
    // Every option is given once at most (a second one is a slip, not a correction), and a flag
    // takes no value ("--quiet=no" would read as the opposite of what it does).
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::Throw);
    app.option_defaults()->disable_flag_override();
    app.description(description);
    app.footer(footer);
    app.set_help_flag("-h,--help", "show this text and exit");
    app.set_version_flag("--version", upload::programVersion(), "show the version and exit");
    auto layout = std::make_shared<HelpLayout>();
    layout->column_width(column);
    app.formatter(layout);
}

std::string parseCommandLine(CLI::App& app, const std::vector<std::string>& arguments, bool& help,
                             bool& version) {
    help = false;
    version = false;
    // CLI11 takes the arguments last one first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        help = true;
    } catch (const CLI::CallForVersion&) {
        version = true;
    } catch (const CLI::ParseError& e) {
        // CLI11 names a flag given a value without its dashes; say it as the user wrote it.
        const std::string text = e.what();
        const std::string override = " was given a disallowed flag override";
        if (text.ends_with(override))
            return "--" + text.substr(0, text.size() - override.size()) + " takes no value";
        return text;
    }
    return {};
}

int usageError(const std::string& program, const std::string& problem) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program.c_str(),
                 problem.c_str(), program.c_str());
    return 64;
}

int printVersion(const std::string& program) {
    std::printf("%s %s\n", program.c_str(), upload::programVersion());
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

const CLI::Validator& nonEmpty() {
    static const CLI::Validator check(
        [](const std::string& value) {
            return value.empty() ? std::string("needs a non-empty value") : std::string();
        },
        "", "non-empty");
    return check;
}

} // namespace toolcommon
