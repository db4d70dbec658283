// The module FenraDicomSystem: recognise a DICOM file, read its meta information, dump it as
// text or XML, anonymise it into a new file, open it as a document, load an external data
// dictionary, and make identifiers and values. Failures come back as nil, false, an empty string
// or a status code (never 0); nothing is raised in the host.
#pragma once

#include "REALplugin.h"

#include <cstdint>

REALstring FenraDicomMimeType();
RBBoolean FenraDicomFileIsDicomFile(REALfolderItem src);
REALobject FenraDicomFileGetMetaInformations(REALfolderItem src);
RBInteger FenraDicomFileToTextFile(REALfolderItem src, REALfolderItem dst);
RBInteger FenraDicomFileToXmlFile(REALfolderItem src, REALfolderItem dst);
RBInteger FenraDicomFileAnonymize(REALfolderItem src, REALfolderItem dst);
REALobject FenraDicomFileOpen(REALfolderItem src);
RBInteger FenraDicomLoadExternalDictionary(REALfolderItem src, REALstring description);
REALstring FenraDicomCreateAnonymousID();
REALstring FenraDicomCreateUID(REALstring prefix);
REALobject FenraDicomCreateDataElementValue(REALstring valueFormat);
REALobject FenraDicomCreateDataElementValue2(REALobject value);

// The three file functions: mode 'TEXT', 'XMLT' or 'ANON'. 0 on success; -108 when a folder item
// gives no path; 100 when the source cannot be opened as a DICOM tree; else the status of the
// dump or of the anonymised copy.
RBInteger FenraDicomFileDump(REALfolderItem src, REALfolderItem dst, uint32_t mode);
