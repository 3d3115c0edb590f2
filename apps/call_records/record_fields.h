// The fields of a call record, named as in QapiCmdrRecordPayload and in one
// fixed order, for the JSON lines and the CSV file alike.  Every record has
// every field: the texts its kind does not fill are empty.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "qapi.h"

namespace qrecords {

// Calls visit(name, int64_t) for a number and visit(name, std::string_view)
// for a text, field by field.
template <typename Visit>
void forEachRecordField(const QapiCmdrRecordPayload &r, Visit &&visit) {
    // Texts end at their first NUL, and never past their array.
    const auto text = [](const char *array, size_t size) {
        return std::string_view(array, strnlen(array, size));
    };
    const char kind = static_cast<char>(r.kindLetter);
    const bool oneText = kind == 'B' || kind == 'C';  // kinds 1 and 2 carry one long text
    const std::string_view none;
    visit("kindLetter", std::string_view(&kind, 1));
    visit("second", int64_t{r.second});
    visit("minute", int64_t{r.minute});
    visit("hour", int64_t{r.hour});
    visit("day", int64_t{r.day});
    visit("month", int64_t{r.month});
    visit("year", int64_t{r.year});
    visit("duration", int64_t{r.duration});
    visit("numberA", int64_t{r.numberA});
    visit("numberB", int64_t{r.numberB});
    visit("numberC", int64_t{r.numberC});
    visit("textA", oneText ? none : text(r.texts.dial.textA, sizeof r.texts.dial.textA));
    visit("textB", oneText ? none : text(r.texts.dial.textB, sizeof r.texts.dial.textB));
    visit("textC", oneText ? none : text(r.texts.dial.textC, sizeof r.texts.dial.textC));
    visit("text", oneText ? text(r.texts.text, sizeof r.texts.text) : none);
    visit("wordA", int64_t{r.wordA});
    visit("wordB", int64_t{r.wordB});
    visit("valueA", int64_t{r.valueA});
    visit("valueB", int64_t{r.valueB});
    visit("addressText", text(r.addressText, sizeof r.addressText));
    visit("numberD", int64_t{r.numberD});
    visit("serverAddressText", text(r.serverAddressText, sizeof r.serverAddressText));
}

}  // namespace qrecords
