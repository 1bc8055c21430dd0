// Windows' rules for one part of a name: device names and what a part cannot hold or end with.

#include "tools/app_folder/windows_names.hpp"
#include "tools/host/unicode_text.hpp"

#include <gtest/gtest.h>

TEST(WindowsNames, DeviceNames) {
    for (std::u16string name :
         {u"CON",      u"con",     u"Prn",         u"aux",       u"NUL",        u"COM0",
          u"com9",     u"LPT0",    u"lpt9",        u"COM\u00B9", u"lpt\u00B2",  u"COM\u00B3.log",
          u"CONIN$",   u"conout$", u"CONOUT$.txt", u"nul.txt",   u"NUL.tar.gz", u"nul ",
          u"Con .txt", u"AUX.",    u"PRN..",       u"com1.",     u"lpt1 . x"}) {
        EXPECT_TRUE(is_reserved_device_name(name)) << shown_name(name);
    }
    for (std::u16string name : {u"CONSOLE", u"COM10", u"COM", u"LPT", u"NULL", u"xCON", u"COM1x", u"CONIN",
                                u"CONOUT$x", u"COM\u2074", u".CON", u" CON", u"CON$", u"C\u00D6M1", u""}) {
        EXPECT_FALSE(is_reserved_device_name(name)) << shown_name(name);
    }
}

TEST(WindowsNames, ComponentProblems) {
    const std::pair<std::u16string, const char*> cases[] = {
        {u"a:b", "cannot hold"},       {u"a\\b", "cannot hold"},
        {u"a/b", "cannot hold"},       {u"tab\t", "cannot hold"},
        {u"star*", "cannot hold"},     {u"lpt3.txt", "device name"},
        {u"name.", "ends with a dot"}, {u"name ", "ends with a dot or a blank"},
        {u"...", "ends with a dot"},
    };
    for (const auto& [component, message] : cases) {
        EXPECT_NE(component_problem(component).find(message), std::string::npos) << shown_name(component);
    }
    for (std::u16string fine : {u"a.b", u".hidden", u"a b", u"}x{", u"ß", u"名前", u"\U0001F600"}) {
        EXPECT_EQ(component_problem(fine), "") << shown_name(fine);
    }
}
