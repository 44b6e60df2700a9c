// The Linux desktop program: the same two dialogs and one conversion as the
// Windows program, with GTK's file chooser and message dialog. No main
// window, no command line; the exit status is 1 on every path.
#include <gtk/gtk.h>

#include <cstdio>
#include <string>

#include "job/job.h"

namespace {

// Lets GTK take a closed dialog off the screen before the next step runs.
void Settle() {
  while (gtk_events_pending()) gtk_main_iteration();
}

bool ChooseFile(const char* title, GtkFileChooserAction action, const char* filterName,
                const char* pattern, std::string* path) {
  const bool save = action == GTK_FILE_CHOOSER_ACTION_SAVE;
  GtkWidget* dialog = gtk_file_chooser_dialog_new(title, nullptr, action, "_Cancel",
                                                  GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open",
                                                  GTK_RESPONSE_ACCEPT, nullptr);
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
  GtkFileFilter* filter = gtk_file_filter_new();
  gtk_file_filter_set_name(filter, filterName);
  gtk_file_filter_add_pattern(filter, pattern);
  gtk_file_chooser_add_filter(chooser, filter);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  // Like the Windows save dialog: ask before replacing, add no extension.
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, save);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);

  bool chosen = false;
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
    if (char* name = gtk_file_chooser_get_filename(chooser)) {
      *path = name;
      g_free(name);
      chosen = !path->empty();
    }
  }
  gtk_widget_destroy(dialog);
  Settle();
  return chosen;
}

}  // namespace

void ShowError(const char* text) {
  GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                             GTK_BUTTONS_OK, "%s", text);
  gtk_window_set_title(GTK_WINDOW(dialog), "Error");
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  Settle();
}

int main() {
  if (!gtk_init_check(nullptr, nullptr)) {
    // Started over ssh or from a job: say why nothing appears.
    std::fputs("blockmqo: cannot open a display for its dialogs; blockmqo-cli converts without one\n",
               stderr);
    return 1;
  }
  std::string input, output;
  // GTK's patterns are case-sensitive, Windows' filters are not: spelled out
  // in both cases, LEVEL.BD1 shows as it does on Windows, with or without an
  // installed file type.
  if (ChooseFile("Open block data file", GTK_FILE_CHOOSER_ACTION_OPEN, "Block Data version1",
                 "*.[bB][dD]1", &input) &&
      ChooseFile("Save MQO file", GTK_FILE_CHOOSER_ACTION_SAVE, "Metasequoia Document",
                 "*.[mM][qQ][oO]", &output))
    ConvertBlockDataToMqo(input.c_str(), output.c_str());
  return 1;
}
