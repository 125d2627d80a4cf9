#pragma once
// Printing and print preview of a view, with the application's printer.

class GWView;
class QPrinter;
class QWidget;

// Asks with the print dialog, then prints. Returns true when printed.
bool GWPrintView(GWView& view, QWidget* parent);
// Shows the print preview of the view.
void GWPrintPreview(GWView& view, QWidget* parent);
// Prints the view on this printer without asking (tests print to PDF here).
bool GWPrintViewTo(GWView& view, QPrinter& printer);
