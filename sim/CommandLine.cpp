#include "sim/CommandLine.h"

#include "link/Pacing.h"
#include "sim/SecondUnit.h"
#include "sim/UnitFault.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <sys/stat.h>
#include <vector>

namespace zelvor::CommandLine
{
namespace
{
    std::string utf8 (const juce::String& text)
    {
        return text.toStdString();
    }

    // A whole number text, nothing before or after it, finite.
    bool parseNumber (const std::string& text, double& value)
    {
        if (text.empty() || std::isspace ((unsigned char) text.front()))
            return false;
        char* end = nullptr;
        errno = 0;
        value = std::strtod (text.c_str(), &end);
        return errno == 0 && end == text.c_str() + text.size() && std::isfinite (value);
    }

    // The only things an output may replace: nothing, or a regular file (through links).
    bool absentOrRegular (const juce::File& file)
    {
        struct stat info;
        if (::stat (file.getFullPathName().toRawUTF8(), &info) != 0)
            return errno == ENOENT;
        return S_ISREG (info.st_mode);
    }

    juce::File fromCurrentFolder (const std::string& path)
    {
        return juce::File::getCurrentWorkingDirectory().getChildFile (juce::String::fromUTF8 (path.c_str()));
    }

    CLI::Validator check (std::function<juce::String (const std::string&)> problem)
    {
        return CLI::Validator ([problem] (std::string& value) { return utf8 (problem (value)); }, "");
    }

    CLI::Validator notEmpty()
    {
        return check ([] (const std::string& value) { return value.empty() ? "needs a value" : ""; });
    }
} // namespace

struct Options::Impl
{
    juce::String program;
    CLI::App app;
    bool listFaults = false;
    std::vector<juce::File*> inputs, outputs;
    std::vector<juce::String> outputNames;

    explicit Impl (const juce::String& name) : program (name), app ("", utf8 (name))
    {
        app.allow_windows_style_options (false); // "/S" is a value here on every system
        app.get_formatter()->label ("Usage", "usage");
        app.set_help_flag ("-h,--help", "print these options and exit");
    }

    // An option with one value, handed to `store` once it has passed its checks.
    CLI::Option* add (const juce::String& name,
                      std::function<void (const std::string&)> store,
                      const juce::String& help,
                      const juce::String& valueName)
    {
        return app.add_option_function<std::string> (utf8 (name), std::move (store), utf8 (help))
            ->type_name (utf8 (valueName));
    }

    CLI::Option*
    addText (const juce::String& name, juce::String& target, const juce::String& help, const juce::String& valueName)
    {
        return add (
            name,
            [&target] (const std::string& value) { target = juce::String::fromUTF8 (value.c_str()); },
            help,
            valueName);
    }

    void addFile (const juce::String& name, juce::File& target, const juce::String& help)
    {
        add (
            name, [&target] (const std::string& value) { target = fromCurrentFolder (value); }, help, "FILE")
            ->check (notEmpty());
    }

    juce::String checkFiles() const
    {
        for (size_t i = 0; i < outputs.size(); ++i)
        {
            const auto& out = *outputs[i];
            if (out == juce::File())
                continue;
            const auto name = outputNames[i] + " " + out.getFullPathName();
            if (! absentOrRegular (out))
                return name + " is not a regular file";
            for (const auto* in : inputs)
                if (*in != juce::File() && sameFile (out, *in))
                    return name + " is also an input";
            for (size_t j = i + 1; j < outputs.size(); ++j)
                if (*outputs[j] != juce::File() && sameFile (out, *outputs[j]))
                    return out.getFullPathName() + " is named for two outputs";
        }
        return {};
    }
};

Options::Options (const juce::String& program) : impl (std::make_unique<Impl> (program))
{
}

Options::~Options() = default;

void Options::flag (const juce::String& name, bool& target, const juce::String& help)
{
    impl->app.add_flag (utf8 (name), target, utf8 (help));
}

void Options::text (const juce::String& name, juce::String& target, const juce::String& help)
{
    impl->addText (name, target, help, "TEXT")->check (notEmpty());
}

void Options::choice (const juce::String& name,
                      juce::String& target,
                      const juce::StringArray& values,
                      const juce::String& help)
{
    impl->addText (name, target, help, values.joinIntoString ("|"))
        ->check (check (
            [values] (const std::string& value)
            {
                return values.contains (juce::String::fromUTF8 (value.c_str()))
                           ? juce::String()
                           : "takes " + values.joinIntoString (", ") + ", not \"" + value + "\"";
            }));
}

void Options::speed (double& target)
{
    const auto range = juce::String (Pacing::minSpeed) + " to " + juce::String (Pacing::maxSpeed);
    impl->add (
            "--speed",
            [&target] (const std::string& value) { parseNumber (value, target); },
            "run N times faster than real time (" + range + "; default 1)",
            "N")
        ->check (check (
            [range] (const std::string& value)
            {
                double number = 0;
                const bool ok = parseNumber (value, number) && number >= Pacing::minSpeed && number <= Pacing::maxSpeed;
                return ok ? juce::String() : "takes a number from " + range + ", not \"" + value + "\"";
            }));
}

void Options::fault (juce::String& target)
{
    impl->addText ("--fault", target, "make the virtual unit misbehave (see --list-faults)", "NAME[:N]")
        ->check (check (
            [] (const std::string& value)
            {
                return UnitFault::parse (juce::String::fromUTF8 (value.c_str()))
                           ? juce::String()
                           : "unknown fault \"" + value + "\" (see --list-faults)";
            }));
    impl->app.add_flag ("--list-faults", impl->listFaults, "list the virtual unit's faults and exit");
}

void Options::input (const juce::String& name, juce::File& target, const juce::String& help)
{
    impl->inputs.push_back (&target);
    impl->addFile (name, target, help);
}

void Options::output (const juce::String& name, juce::File& target, const juce::String& help)
{
    impl->outputs.push_back (&target);
    impl->outputNames.push_back (name);
    impl->addFile (name, target, help);
}

void Options::unitOutputs (juce::File& log, juce::File& flash, juce::File& dspReceived, const juce::String& when)
{
    output ("--log", log, "one line per MIDI message in either direction");
    output ("--flash", flash, "the unit's flash, written " + when);
    output ("--dsp-received", dspReceived, "the DSP image bytes the unit received, written " + when);
}

void Options::secondUnit (juce::String& kind, juce::File& flash, juce::File& dspReceived, const juce::String& when)
{
    choice ("--second-unit",
            kind,
            SecondUnit::kinds(),
            "a second device listed after the unit: a unit running, one in its loader, or silent ports named like "
            "the unit's (default none)");
    output ("--second-flash", flash, "the second unit's flash, written " + when);
    output ("--second-dsp-received", dspReceived, "the DSP image bytes the second unit received, written " + when);
}

std::optional<int> Options::parse (const juce::StringArray& arguments)
{
    // CLI11 takes them last first.
    std::vector<std::string> reversed;
    for (int i = arguments.size(); --i >= 0;)
        reversed.push_back (utf8 (arguments[i]));

    try
    {
        impl->app.parse (reversed);
    }
    catch (const CLI::CallForHelp&)
    {
        std::cout << impl->app.help() << std::flush;
        return 0;
    }
    catch (const CLI::ParseError& error)
    {
        return refuse (juce::String::fromUTF8 (error.what()));
    }

    if (impl->listFaults)
    {
        for (const auto& name : UnitFault::names())
            std::cout << name << "  " << UnitFault::describe (name) << "\n";
        std::cout << std::flush;
        return 0;
    }
    if (const auto problem = impl->checkFiles(); problem.isNotEmpty())
        return refuse (problem);
    return std::nullopt;
}

int Options::refuse (const juce::String& message) const
{
    std::cerr << impl->program << ": " << message << "\n(" << impl->program << " --help lists the options)\n"
              << std::flush;
    return usageError;
}

juce::StringArray arguments (int argc, char** argv)
{
    juce::StringArray list;
    for (int i = 1; i < argc; ++i)
        list.add (juce::String::fromUTF8 (argv[i]));
    return list;
}

bool sameFile (const juce::File& a, const juce::File& b)
{
    if (a == b)
        return true;
#if JUCE_WINDOWS
    // The Windows C runtime gives every file the inode 0; File's comparison ignores case there.
    return false;
#else
    struct stat infoA, infoB;
    return ::stat (a.getFullPathName().toRawUTF8(), &infoA) == 0 &&
           ::stat (b.getFullPathName().toRawUTF8(), &infoB) == 0 && infoA.st_dev == infoB.st_dev &&
           infoA.st_ino == infoB.st_ino;
#endif
}
} // namespace zelvor::CommandLine
