#pragma once
// The unit test run's own main (unit_main.cpp): GoogleTest, and after each
// test the check below, so that no test relies on the ones before it having
// put the platform's call tables back.

// Fails the running test for each call table it left changed, naming the
// table, and puts every table back to the platform's own.
void checkCallTablesRestored();
