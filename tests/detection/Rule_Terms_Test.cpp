#include <gtest/gtest.h>

#include <string>

#include "detection/Rule_Terms.h"
#include "platform/text.h"

// A whole Event text is compared without the storage-class word, wherever
// the word stands, and only as a whole word between separators.
TEST(Rule_Terms, EventEqualsWithoutTheStorageClassWord) {
    struct Case {
        const char16_t* event;
        const char16_t* words;
        bool equal;
    };
    const Case cases[] = {
        {u"File_Created", u"File_Created", true},
        {u"File_Created , Desired_Storage_Class_Change", u"File_Created", true},
        {u"Basic_Info_Changed , Desired_Storage_Class_Change , File_Closed", u"Basic_Info_Changed , File_Closed", true},
        {u"Desired_Storage_Class_Change , File_Closed", u"File_Closed", true},
        {u"Desired_Storage_Class_Change", u"", true},
        // Another word beside it still counts.
        {u"File_Created , Desired_Storage_Class_Change , File_Closed", u"File_Created", false},
        {u"File_Created , File_Closed", u"File_Created", false},
        {u"Desired_Storage_Class_Change", u"File_Created", false},
        {u"", u"File_Created", false},
        // Only the whole word, as the reload joins the words.
        {u"File_Created , Desired_Storage_Class_Changes", u"File_Created", false},
        {u"File_Created ,Desired_Storage_Class_Change", u"File_Created ,", false},
        {u"File_Created / Desired_Storage_Class_Change", u"File_Created", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Event_Equals(c.event, c.words), c.equal)
            << platform::Utf16_To_Utf8(c.event) << " = " << platform::Utf16_To_Utf8(c.words);
}
