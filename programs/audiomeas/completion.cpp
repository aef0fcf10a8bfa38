#include "completion.hpp"

#include <cctype>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

namespace audiomeas::cli {
namespace {

// What the word after an option (or a command's file argument) may be.
constexpr const char* kFileValue = "FILE";
constexpr const char* kNoValue = "NONE";

bool isVisible(const CLI::App* sub) { return !sub->get_group().empty(); }

// CLI11's type name with its validators: "INT:POSITIVE", "TEXT:{white,pink}".
std::string valueKind(const CLI::Option* o) {
  const std::string type = o->get_type_name();
  const auto open = type.find('{'), close = type.rfind('}');
  if (open != std::string::npos && close != std::string::npos && close > open) {
    std::string choices = type.substr(open + 1, close - open - 1);
    for (char& c : choices)
      if (c == ',') c = ' ';
    return choices;
  }
  const std::string base = type.substr(0, type.find(':'));
  if (base == "INT" || base == "UINT" || base == "FLOAT" || base == "NUMBER") return kNoValue;
  return kFileValue;
}

// A bash single-quoted word; the names and choices hold no quote, but a
// stray one must not end the string.
std::string shellWord(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct Tables {
  std::map<std::string, std::string> subcommands, options, values, arguments;
};

void walk(const CLI::App& app, const std::string& path, Tables& t) {
  std::string subs;
  for (const CLI::App* sub : app.get_subcommands([](const CLI::App* s) { return isVisible(s); })) {
    subs += (subs.empty() ? "" : " ") + sub->get_name();
    walk(*sub, path + " " + sub->get_name(), t);
  }
  if (!subs.empty()) t.subcommands[path] = subs;
  std::string names;
  for (const CLI::Option* o : app.get_options()) {
    if (o->get_positional()) {
      if (!t.arguments.count(path)) t.arguments[path] = valueKind(o);
      continue;
    }
    const bool takesValue = o->get_expected_max() > 0;
    auto add = [&](const std::string& name) {
      names += (names.empty() ? "" : " ") + name;
      if (takesValue) t.values[path + " " + name] = valueKind(o);
    };
    for (const std::string& s : o->get_snames()) add("-" + s);
    for (const std::string& l : o->get_lnames()) add("--" + l);
  }
  t.options[path] = names;
}

std::string table(const char* name, const std::map<std::string, std::string>& entries) {
  std::string s = std::string("  local -A ") + name + "=(\n";
  for (const auto& [key, value] : entries) s += "    [" + shellWord(key) + "]=" + shellWord(value) + "\n";
  return s + "  )\n";
}

// Walks the words before the cursor down the subcommands, skipping each
// option's value, then offers what the cursor's place takes.
constexpr const char* kBody = R"(  local node=$program kind= word i cur=${COMP_WORDS[COMP_CWORD]}
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -n $kind ]]; then
      kind=
    elif [[ " ${subcommands[$node]} " == *" $word "* ]]; then
      node+=" $word"
    elif [[ -n ${values["$node $word"]+set} ]]; then
      kind=${values["$node $word"]}
    fi
  done
  COMPREPLY=()
  if [[ -z $kind && $cur == -* ]]; then
    kind=OPTIONS
  elif [[ -z $kind && -n ${subcommands[$node]} ]]; then
    kind=SUBCOMMANDS
  elif [[ -z $kind ]]; then
    kind=${arguments[$node]:-@NONE@}
  fi
  case $kind in
    @FILE@) COMPREPLY=($(compgen -f -- "$cur")) ;;
    @NONE@) ;;
    OPTIONS) COMPREPLY=($(compgen -W "${options[$node]}" -- "$cur")) ;;
    SUBCOMMANDS) COMPREPLY=($(compgen -W "${subcommands[$node]}" -- "$cur")) ;;
    *) COMPREPLY=($(compgen -W "$kind" -- "$cur")) ;;
  esac
}
)";

}  // namespace

std::string bashCompletion(const CLI::App& app) {
  std::string program = std::filesystem::path(app.get_name()).filename().string();
  if (program.empty()) program = "audiomeas";
  Tables t;
  walk(app, program, t);
  std::string function = "_" + program;
  for (char& c : function)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  std::string s = "# bash completion for " + program + ", written by `" + program +
                  " completion bash` from its own subcommands and options.\n" + function + "() {\n" +
                  "  local program=" + shellWord(program) + "\n";
  s += table("subcommands", t.subcommands) + table("options", t.options);
  s += std::string("  # What follows an option or stands as a command's argument: ") + kFileValue + ", " +
       kNoValue + " or the choices.\n";
  s += table("values", t.values) + table("arguments", t.arguments);
  std::string body = kBody;
  for (const auto& [token, word] : {std::pair{"@FILE@", kFileValue}, std::pair{"@NONE@", kNoValue}})
    for (auto at = body.find(token); at != std::string::npos; at = body.find(token))
      body.replace(at, std::string(token).size(), word);
  s += body;
  return s + "complete -o filenames -F " + function + " " + shellWord(program) + "\n";
}

CompletionCommand::CompletionCommand(CLI::App& app) : app_(&app) {
  command_ = app.add_subcommand("completion", "print a shell completion script");
  command_->group("");  // hidden: for packagers, not in --help
  command_->add_option("SHELL", shell_, "the shell")->required()->check(CLI::IsMember({"bash"}));
}

std::string CompletionCommand::script() const { return bashCompletion(*app_); }

}  // namespace audiomeas::cli
