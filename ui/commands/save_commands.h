#pragma once

namespace orlenta {

class Form1;

// The two save commands of the main window, run once per press of their button. Both ask for
// a file name in the Save dialog (cancel: nothing happens), ask before replacing an existing
// file, and write the results list as it stands when the save begins. Neither changes the
// list or its selection, and neither reports success; a failure is told in one message.

// "Save Results As List" (Check6): one address per line. Quick, so it neither shows the
// hourglass nor yields.
void SaveResultsAsList(Form1& window);

// "Save As Comma Delimited" (Check4): one line of addresses joined by commas, written by
// SaveCommaDelimited (save_comma.h), with the hourglass up from the overwrite question until
// the save ends.
void SaveAsCommaDelimited(Form1& window);

}  // namespace orlenta
