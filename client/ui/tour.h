#pragma once
// A scripted run of the real program: inputs given as a user gives them (menu commands, keys,
// clicks on the window), with a picture saved at each checkpoint.
//   TESSEL_TOUR=script  TESSEL_TOUR_DIR=folder for the pictures (default: the working folder)
// Script lines ('#' starts a comment):
//   wait MS            let the program run on
//   command ID         a menu command, as the menu bar sends it
//   key NAME [MS]      press a key (a key sequence name, e.g. Up, F3, Return) and let go after
//                      MS; keys and typed text go to the focused control of the window in front
//   click X Y          a left click at a point of the main window
//   dclick X Y         a double click there
//   rclick X Y         a right click there
//   type TEXT          characters typed into the focused control
//   spawn [ARG...]     start this program once more with the arguments (its own tour off)
//   close              close the dialog in front
//   press ID           click the button with that control id in the dialog in front
//   pace MS            count the frame steps over MS and print them with the screen's rate
//   shot NAME          save what is shown as NAME.png (dialogs drawn over the window's middle)
//   quit               end the program
class QtHost;

// Starts the script when the event loop runs; false when it cannot be read.
bool tour_start(QtHost& host, const char* script, const char* folder);
