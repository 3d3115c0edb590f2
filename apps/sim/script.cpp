#include "sim/script.h"

#include <sstream>
#include <stdexcept>

namespace qsim {
namespace {

// Verb, then the shape of its words: 'n' a number, 'w' any word, 't' the
// rest of the line (at least one word); a verb with choices takes one word,
// one of them.
struct Shape {
    const char *verb;
    const char *words;
    const char *choices = nullptr;  // " a b c "
};

constexpr Shape kShapes[] = {
    {"ring", "nw"},       {"connect", "n"},
    {"hangup", "n"},      {"display", "nt"},
    {"extension", "nn"},  {"park", "w"},
    {"route", "nnww"},    {"records", "n"},
    {"bad-record", ""},   {"sleep", "n"},
    {"quit", ""},         {"wait registered", "n"},
    {"wait adjunct", ""}, {"wait answered", ""},
    {"wait polls", "n"},  {"faults", "w", " off on "},
    {"flood", "n"},       {"adjunct", "w", " deaf hear vanish "},
};

bool isNumber(const std::string &w) {
    size_t i = (w.size() > 1 && w[0] == '-') ? 1 : 0;
    if (i == w.size()) return false;
    for (; i < w.size(); ++i) {
        if (w[i] < '0' || w[i] > '9') return false;
    }
    return w.size() <= 10;
}

}  // namespace

int32_t Command::integer(size_t i) const { return static_cast<int32_t>(std::stol(words.at(i))); }

std::optional<Command> parseCommand(const std::string &line) {
    const std::string text = line.substr(0, line.find('#'));
    std::istringstream in(text);
    Command c;
    if (!(in >> c.verb)) return std::nullopt;
    for (std::string w; in >> w;) c.words.push_back(w);
    if (c.verb == "wait" && !c.words.empty()) {  // "wait polls" etc. are verbs of two words
        c.verb += " " + c.words.front();
        c.words.erase(c.words.begin());
    }
    const Shape *shape = nullptr;
    for (const Shape &s : kShapes) {
        if (c.verb == s.verb) shape = &s;
    }
    if (!shape) throw std::invalid_argument("unknown command \"" + c.verb + "\"");
    const std::string want = shape->words;
    const bool textLast = !want.empty() && want.back() == 't';
    if (c.words.size() < want.size() || (!textLast && c.words.size() > want.size())) {
        throw std::invalid_argument("\"" + c.verb + "\" wants " + std::to_string(want.size()) +
                                    " argument(s)");
    }
    for (size_t i = 0; i < want.size(); ++i) {
        if (want[i] == 'n' && !isNumber(c.words[i])) {
            throw std::invalid_argument("\"" + c.verb + "\": \"" + c.words[i] + "\" is not a number");
        }
    }
    if (shape->choices) {
        const std::string choices = shape->choices;
        if (choices.find(" " + c.words[0] + " ") == std::string::npos) {
            throw std::invalid_argument("\"" + c.verb + "\" wants one of" +
                                        choices.substr(0, choices.size() - 1) + ", not \"" + c.words[0] +
                                        "\"");
        }
    }
    if (textLast) {
        // The text is everything after the words before it, blanks kept.
        std::string after = text.substr(text.find(c.verb) + c.verb.size());
        for (size_t i = 0; i + 1 < want.size(); ++i)
            after = after.substr(after.find(c.words[i]) + c.words[i].size());
        c.rest = after.substr(after.find_first_not_of(" \t"));
        c.rest = c.rest.substr(0, c.rest.find_last_not_of(" \t\r") + 1);
    }
    return c;
}

}  // namespace qsim
