// The logon launcher's settings, one row per settings text: the command
// line made of them, or the line that stops the task; its quoting and its
// waits between tries.
#include <gtest/gtest.h>

#include "app/logon_settings.h"

TEST(LogonSettings, Texts) {
    const struct {
        const char* text;
        const char* arguments;  // after the program; empty: refused
        const char* problem;
    } cases[] = {
        // Nothing set: the sound card's default device, Central European Time.
        {"# only a comment\n\n", "--audio default --factor 100 --follow --verbose --zone cet", ""},
        // Keys in any case, blanks and Windows line ends around; a later line wins.
        {"output = --Device \r\n  device=COM3  \r\nFactor=98.7\r\nDEVICE=COM4\r\n",
         "--device COM4 --factor 98.7 --follow --verbose --zone cet", ""},
        // "default" in any case; a name with blanks inside kept whole.
        {"DEVICE=Default  \n", "--audio default --factor 100 --follow --verbose --zone cet", ""},
        {"DEVICE=Kopfhörer (USB Audio)\n", "--audio \"Kopfhörer (USB Audio)\" --factor 100 --follow --verbose --zone cet", ""},
        // NTP servers, each with --ntp, before the options split at blanks; empty: none.
        {"NTP=ntp.example.org 127.0.0.1:123\nOPTIONS= --station msf\t-v\n",
         "--audio default --factor 100 --follow --verbose --ntp ntp.example.org --ntp 127.0.0.1:123 --station msf -v", ""},
        {"NTP=\nOPTIONS=\n", "--audio default --factor 100 --follow --verbose", ""},
        // Mistakes, each with its line.
        {"# a\nOUTPUTT=--device\n", "", "line 2: unknown setting 'OUTPUTT' (OUTPUT, DEVICE, FACTOR, NTP or OPTIONS)"},
        {"OUTPUT=--sound\n", "", "line 1: OUTPUT is --audio or --device ('--sound')"},
        {"\n\nDEVICE=\n", "", "line 3: DEVICE is empty"},
        {"DEVICE=\"Speakers\"\n", "", "line 1: the value goes without quotes ('\"Speakers\"')"},
        {"FACTOR=abc\n", "", "line 1: FACTOR is a number such as 100 or 98.7 ('abc')"},
        {"FACTOR=1.2.3\n", "", "line 1: FACTOR is a number such as 100 or 98.7 ('1.2.3')"},
        {"--zone cet\n", "", "line 1: '--zone cet' is no KEY=VALUE setting"},
    };
    for (const auto& c : cases) {
        LogonSettings settings;
        std::string problem;
        const bool read = ReadLogonSettings(c.text, &settings, &problem);
        EXPECT_EQ(read ? QuotedCommandLine("p", LogonArguments(settings)).substr(4) : "", c.arguments) << c.text;
        EXPECT_EQ(problem, c.problem) << c.text;
    }
}

TEST(LogonSettings, Quoting) {
    const struct {
        const char* argument;
        const char* quoted;
    } cases[] = {
        {"COM3", "COM3"},                                 // as it is
        {"", "\"\""},                                     // empty
        {"a b", "\"a b\""},                               // a blank
        {"\\\\.\\COM12", "\\\\.\\COM12"},                 // backslashes before no quote
        {"C:\\a b\\", "\"C:\\a b\\\\\""},                 // a backslash before the closing quote
        {"say \"hi\\\"", "\"say \\\"hi\\\\\\\"\""},       // quotes, one after a backslash
    };
    for (const auto& c : cases) EXPECT_EQ(QuotedCommandLine("C:\\Wow!\\x.exe", {c.argument}), std::string("\"C:\\Wow!\\x.exe\" ") + c.quoted);
}

TEST(LogonSettings, Waits) {
    // 10 s, doubling to 10 minutes; a run over 10 minutes starts again at 10 s.
    int wait = 0;
    std::string waits;
    for (const int ran : {1, 1, 1, 1, 1, 1, 1, 1, 601, 600})
        waits += std::to_string(wait = NextRetrySeconds(wait, ran)) + " ";
    EXPECT_EQ(waits, "10 20 40 80 160 320 600 600 10 20 ");
}
