// The moment right after the menu has checked a disc file and holds it open,
// before it reads, starts or loads it: until then the file's name could lead
// anywhere, and from then on only the held handle is used. The shipping
// program does nothing here; the test build's seam (seams/) changes what the
// name leads to at this very moment, which a test would otherwise hit only by
// chance.
#pragma once

void AfterCheck(const char* path);
