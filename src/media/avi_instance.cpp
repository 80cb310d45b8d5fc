// The process-wide movie writer. Kept in its own file so that programs using the writer for
// their own movies (tests, the desktop receiver) do not carry the application's instance.
#include "media/avi_writer.h"

AviWriter gAviWriter;
