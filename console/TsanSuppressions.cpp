/* Compiled into Mirolt and the console's test programs. Qt is not built with
 * the thread sanitizer: the locking inside its own threads (the image
 * conversion pool, the test watchdog) is invisible to it and reads as races.
 * Calls made from inside Qt's libraries are set aside; our own code, which is
 * instrumented, stays checked. */
#if defined(__SANITIZE_THREAD__)
extern "C" const char *__tsan_default_suppressions()
{
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n"
         "called_from_lib:libQt6Test.so.6\n";
}
#endif
