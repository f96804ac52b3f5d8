// Writes of file content and updates of the $STANDARD_INFORMATION times and
// attribute word. Not analysed yet: these records end with no event.
#include "ntfs/logfile/LogFile_Analysis_Cases.h"

Case_Outcome Analyze_Resident_Content_Write(const Log_Record_Analysis&) { return Case_Outcome::Done; }
Case_Outcome Analyze_Creation_Time_Change(const Log_Record_Analysis&) { return Case_Outcome::Done; }
Case_Outcome Analyze_Modified_Time_Change(const Log_Record_Analysis&) { return Case_Outcome::Done; }
Case_Outcome Analyze_MFT_Modified_Time_Change(const Log_Record_Analysis&) { return Case_Outcome::Done; }
Case_Outcome Analyze_Access_Time_Change(const Log_Record_Analysis&) { return Case_Outcome::Done; }
Case_Outcome Analyze_Attribute_Change(const Log_Record_Analysis&) { return Case_Outcome::Done; }
Case_Outcome Analyze_Nonresident_Content_Write(const Log_Record_Analysis&) { return Case_Outcome::Done; }
