#pragma once

class QPushButton;

// Gives `button` a focus frame that shows whenever it has the keyboard
// focus: a dotted line inside its edge, in the text colour. The application
// style marks a focused button so faintly (and only after a Tab) that the
// user cannot tell where Enter or Space goes. Nothing else of the button's
// look changes; without the focus it paints exactly as before.
void showFocusFrame(QPushButton *button);
