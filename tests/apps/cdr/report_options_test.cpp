// The report's counts and page, the command line, the waits between tries.
#include <gtest/gtest.h>

#include "cdr/backoff.h"
#include "cdr/options.h"
#include "cdr/passwords.h"
#include "cdr/report.h"
#include "cdr_samples.h"

namespace qcdr {
namespace {

TEST(Report, CallsAndMinutesPerHourAndPerExtensionLeaveNotesOut) {
    Report report;
    auto late = test::call(1, 59, 90);
    late.hour = 23, late.day = 31, late.month = 5;
    auto other = test::call(2, 0, 30);
    other.numberA = 18, other.day = 1, other.month = 6, other.hour = 1;
    for (const auto &r : {test::call(0), test::call(0, 40, 30), test::note("n"), late, other})
        report.add(test::row(r));
    EXPECT_EQ(report.records, 5u);
    EXPECT_EQ(report.total.calls, 4u);
    EXPECT_EQ(report.total.seconds, 210u);
    EXPECT_EQ(report.hours.at("2024-05-17 10:00").calls, 2u);
    EXPECT_EQ(report.extensions.at(17).seconds, 180u);
    EXPECT_EQ(report.extensions.at(18).calls, 1u);
    // Across the end of May, hours without calls too.
    report.hours.erase("2024-05-17 10:00");
    const auto series = hourSeries(report);
    ASSERT_EQ(series.size(), 3u);
    EXPECT_EQ(series[0].first, "2024-05-31 23:00");
    EXPECT_EQ(series[1].first, "2024-06-01 00:00");
    EXPECT_EQ(series[1].second.calls, 0u);
    EXPECT_EQ(hourSeries(report, 2).size(), 2u);  // too many: only those with calls
    const std::string text = reportText(report);
    EXPECT_NE(text.find("5 records, 4 calls, 3.5 minutes"), std::string::npos) << text;
    EXPECT_NE(text.find("  18                        1          0.5\n"), std::string::npos) << text;
}

TEST(Report, ACallOnADayTheCalendarLacksIsChartedUnderItsOwnDate) {
    Report report;
    auto lacking = test::call(1, 15, 60);
    lacking.year = 2023, lacking.month = 2, lacking.day = 30, lacking.hour = 10;
    report.add(test::row(lacking));
    ASSERT_EQ(hourSeries(report).size(), 1u);
    EXPECT_EQ(hourSeries(report)[0].first, "2023-02-30 10:00");
    auto before = lacking, after = lacking;
    before.day = 28, before.hour = 23;
    after.month = 3, after.day = 1, after.hour = 1;
    report.add(test::row(before));
    report.add(test::row(after));
    std::vector<std::string> labels;
    for (const auto &[label, tally] : hourSeries(report)) labels.push_back(label);
    EXPECT_EQ(labels, (std::vector<std::string>{"2023-02-28 23:00", "2023-02-30 10:00", "2023-03-01 00:00",
                                                "2023-03-01 01:00"}));
    const std::string page = reportHtml(report);
    size_t bars = 0;  // one in each chart per hour
    for (size_t at = 0;
         (at = page.find("<title>2023-02-30 10:00: 1 calls, 1.0 minutes</title>", at)) != std::string::npos;
         ++at)
        ++bars;
    EXPECT_EQ(bars, 2u);
    EXPECT_NE(page.find("<tr><td>2023-02-30 10:00</td><td>1</td>"), std::string::npos);
}

TEST(Report, ThePageIsSelfContainedAndEscapesWhatItShows) {
    Report report;
    report.period = {"2024-05-17 00:00:00", "<2024>"};
    report.add(test::row(test::call(0)));
    const std::string page = reportHtml(report);
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(page.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
    EXPECT_NE(page.find("<rect "), std::string::npos);
    EXPECT_NE(page.find("&lt;2024&gt;"), std::string::npos);
    for (const char *outside : {"<script", "http://www.w3.org/1999", "src=", "href=", "<link"})
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
}

TEST(Options, EachModeTakesItsOwnOptions) {
    Options o = parseOptions({"--feed", "a:1", "--feed=[::1]:2", "--db", "postgresql://u@h/d"});
    ASSERT_EQ(o.feeds.size(), 2u);
    EXPECT_EQ(o.feeds[1].host, "::1");
    EXPECT_EQ(spoolPath(o), "qapi-cdr.spool");
    EXPECT_EQ(spoolPath(parseOptions({"--feed", "a:1", "--db", "x.sqlite"})), "x.sqlite.spool");
    o = parseOptions({"report", "--from", "2024-05-17", "--to=2024-05-17T10:30", "--html", "r.html"});
    EXPECT_EQ(o.period.from, "2024-05-17 00:00:00");
    EXPECT_EQ(o.period.to, "2024-05-17 10:30:00");
    EXPECT_EQ(o.db, "cdr.sqlite");
    for (const std::vector<std::string> &bad :
         {std::vector<std::string>{"--feed", "a:1", "--from", "2024-05-17"},
          {"report", "--from", "2024-05-32"},
          {"report", "--to", "2024-05-17 24:00"},
          {"export"},
          {"export", "--csv="},
          {"--feed", "a:1", "--db="}})
        EXPECT_THROW(parseOptions(bad), std::invalid_argument);
}

TEST(Passwords, AreHiddenInEveryFormOfConnectionString) {
    const std::pair<const char *, const char *> cases[] = {
        {"postgresql://cdr:s3cret@db:5432/cdr", "postgresql://cdr:***@db:5432/cdr"},
        {"postgres://cdr@db/cdr?sslmode=require&password=s3cret&x=1",
         "postgres://cdr@db/cdr?sslmode=require&password=***&x=1"},
        {"postgres://db/cdr?pass%77ord=s3cret", "postgres://db/cdr?pass%77ord=***"},
        {"host=db password='s3 \\' cret' dbname=cdr", "host=db password=*** dbname=cdr"},
        {"host=db password = s3&cret dbname=cdr", "host=db password = *** dbname=cdr"},
        {"unknown option \"--dbx=postgresql://u:s3cret@h/d\"",
         "unknown option \"--dbx=postgresql://u:***@h/d\""},
        {"postgresql://cdr@db:5432/cdr: connection refused",
         "postgresql://cdr@db:5432/cdr: connection refused"},
    };
    for (const auto &[text, shown] : cases) {
        std::vector<std::string> found;
        EXPECT_EQ(hidePasswords(text, &found), shown);
        EXPECT_EQ(found.size(), std::string(shown).find("***") == std::string::npos ? 0u : 1u) << text;
    }
    EXPECT_EQ(withoutSecrets("token \"s3%zz\" is bad, s3%zz", {"s3%zz"}), "token \"***\" is bad, ***");
}

TEST(Backoff, DoublesUpToItsLongestWaitAndStartsAgainAfterASuccess) {
    Backoff b(std::chrono::seconds(60));
    std::vector<int64_t> waits;
    for (int i = 0; i < 8; ++i) waits.push_back(b.failed().count());
    EXPECT_EQ(waits, (std::vector<int64_t>{1, 2, 4, 8, 16, 32, 60, 60}));
    b.succeeded();
    EXPECT_EQ(b.failed().count(), 1);
}

}  // namespace
}  // namespace qcdr
