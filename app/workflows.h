// The long workflows the window's commands start. Each launcher runs on the UI thread, checks its
// inputs, posts WM_APP_BUSY 1 and hands the work to start_worker; the worker reports only through
// the bridge of app_state.h and posts WM_APP_BUSY 0 last.
//
// Hand-over: a worker replaces or extends the catalogue and the file list only through the
// hand-over functions of app_state.h, and posts the matching refresh message after the list holds
// its new content.
#pragma once

#include <string>
#include <vector>

// "Conectar": stores URL and key in the client, checks the key and loads the catalogue.
void do_connect();

// "Selecionar...": the modal multi-select file dialog; replaces the file list. No worker.
void do_browse();

// "Buscar": the scan launcher; replaces the file list with the folder's documents.
void do_scan();

// "Enviar todos" (all = true) and "Enviar selecionados" (all = false).
void do_send(bool all);

// "Converter TIFFs": converts the folder's TIFF files to PDF and adds them to the file list.
void do_convert_tiffs();
