// Name matching for the port table: comparisons of configured names with the
// names the system reports, folding only the letters a..z.
#pragma once

// True when text begins with head (an empty head matches any text).
bool matchHead(const char* text, const char* head);

// True when part occurs somewhere in text (an empty part never matches).
bool matchPart(const char* text, const char* part);
