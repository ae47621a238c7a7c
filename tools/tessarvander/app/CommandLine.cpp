#include "app/CommandLine.h"

#include <sstream>

namespace tool {
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

}  // namespace tool
