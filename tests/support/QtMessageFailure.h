#pragma once

// Makes every Qt warning, critical or fatal message a failure of the running test
// ("No such slot", "Could not parse stylesheet", a missing picture...), so a
// broken connection or resource cannot pass unnoticed. Debug and info messages
// are printed as before.
void failTestsOnQtWarnings();
