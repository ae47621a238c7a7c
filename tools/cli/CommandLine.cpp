#include "CommandLine.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace cli {
namespace {

// Usage first, as Unix tools do, then the description and the options.
class UsageFirstFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    if (mode == CLI::AppFormatMode::Sub) return make_expanded(app);
    std::stringstream out;
    out << "usage: " << name << (app->get_options([](const CLI::Option* o) { return o->nonpositional(); }).empty()
                                     ? ""
                                     : " [OPTIONS]");
    for (const CLI::Option* positional : app->get_options([](const CLI::Option* o) { return o->get_positional(); }))
      out << " " << positional->get_name();
    if (!app->get_subcommands({}).empty()) out << " COMMAND";
    out << "\n\n" << app->get_description() << "\n";
    out << make_positionals(app) << make_groups(app, mode) << make_subcommands(app, mode);
    out << '\n' << make_footer(app);
    return out.str();
  }

  // A command in the program's list: its name and the first line of what
  // it does.
  std::string make_subcommand(const CLI::App* sub) const override {
    const std::string& description = sub->get_description();
    std::stringstream out;
    CLI::detail::format_help(out, sub->get_name(), description.substr(0, description.find('\n')), column_width_);
    return out.str();
  }
};

}  // namespace

std::shared_ptr<CLI::Formatter> HelpFormatter() {
  auto formatter = std::make_shared<UsageFirstFormatter>();
  formatter->column_width(30);
  return formatter;
}

bool ParseDouble(const std::string& text, const std::string& what, double& value, std::string& error) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(begin, &end);
  if (text.empty() || end != begin + text.size() || errno == ERANGE || !std::isfinite(parsed)) {
    error = what + ": \"" + text + "\" is not a number";
    return false;
  }
  value = parsed;
  return true;
}

bool ParseFloat(const std::string& text, const std::string& what, float& value, std::string& error) {
  double parsed = 0.0;
  if (!ParseDouble(text, what, parsed, error)) return false;
  if (std::fabs(parsed) > 3.0e38) {
    error = what + ": " + text + " is too large for a 32-bit float";
    return false;
  }
  value = static_cast<float>(parsed);
  return true;
}

CLI::Validator Within(double minimum, double maximum) {
  std::ostringstream range;
  range << minimum << " to " << maximum;
  return CLI::Validator(
      [minimum, maximum, range = range.str()](std::string& text) -> std::string {
        double value = 0.0;
        std::string error;
        if (!ParseDouble(text, "", value, error)) return "\"" + text + "\" is not a number";
        if (value < minimum || value > maximum) return text + " is outside " + range;
        return "";
      },
      "");
}

CLI::Validator OneOf(const std::vector<std::string>& choices) {
  std::string listed;
  for (size_t i = 0; i < choices.size(); ++i)
    listed += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i];
  return CLI::Validator(
      [choices, listed](std::string& text) -> std::string {
        for (const std::string& choice : choices)
          if (text == choice) return "";
        return "\"" + text + "\" is not " + listed;
      },
      "");
}

bool ParseSize(const std::string& text, const std::string& what, FrameSize& size, std::string& error) {
  const size_t cross = text.find('x');
  const auto whole = [](const std::string& digits, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(digits.c_str(), &end, 10);
    return !digits.empty() && end == digits.c_str() + digits.size() && errno != ERANGE && value >= 0 &&
           value <= (1L << 30);
  };
  long width = 0, height = 0;
  if (cross == std::string::npos || !whole(text.substr(0, cross), width) || !whole(text.substr(cross + 1), height)) {
    error = what + "\"" + text + "\" is not a size like 1280x720";
    return false;
  }
  if (width < 1 || height < 1) {
    error = what + text + " has a zero side; both must be at least 1";
    return false;
  }
  size = {static_cast<int>(width), static_cast<int>(height)};
  return true;
}

CLI::Option* AddSizeOption(CLI::App& app, const std::string& name, FrameSize& size, const std::string& description) {
  return app.add_option_function<std::string>(
                name,
                [&size, name](const std::string& text) {
                  std::string error;
                  if (!ParseSize(text, "", size, error)) throw CLI::ValidationError(name, error);
                },
                description)
      ->type_name("WxH");
}

bool ParseFloatList(const std::string& text, const std::string& what, std::vector<float>& values,
                    std::string& error) {
  values.clear();
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    float value = 0.0f;
    if (!ParseFloat(text.substr(start, comma - start), what, value, error)) return false;
    values.push_back(value);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

}  // namespace cli
