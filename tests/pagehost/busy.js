// Never returns to the host: only the watchdog can end this page.
for (;;) {}
