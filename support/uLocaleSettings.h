#pragma once
// The user's number format settings that the program follows. The decimal separator
// comes from the environment's numeric locale (LC_ALL, LC_NUMERIC, LANG) without
// changing the process locale; tests and the application may override it.

// The separator in effect: the override when one is set, else the environment's.
char DecimalSeparator();
void SetDecimalSeparator(char separator);
