#pragma once
// The three test modes: they check the configuration without delivering a statement. Each returns
// the program's exit code.

namespace dbrelay {

int RunPrimaryTest();
int RunSecondaryTest();
int RunEmailTest();

}  // namespace dbrelay
