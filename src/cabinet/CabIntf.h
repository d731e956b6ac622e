// The binding between the cabinet components and the cabinet library. The
// library is our own and linked in, so each entry point is a direct call;
// the components reach the library only through these names.
#pragma once

#include "cabinet/fdifci.h"

namespace qv::CabIntf {

cab::HFCI FCICreate(cab::PERF perf, cab::PFNFCIFILEPLACED pfnfcifp, cab::PFNFCIALLOC pfna, cab::PFNFCIFREE pfnf,
                    cab::PFNFCIOPEN pfnopen, cab::PFNFCIREAD pfnread, cab::PFNFCIWRITE pfnwrite,
                    cab::PFNFCICLOSE pfnclose, cab::PFNFCISEEK pfnseek, cab::PFNFCIDELETE pfndelete,
                    cab::PFNFCIGETTEMPFILE pfnfcigtf, cab::PCCAB pccab, void *pv);
cab::BOOL FCIAddFile(cab::HFCI hfci, char *pszSourceFile, char *pszFileName, cab::BOOL fExecute,
                     cab::PFNFCIGETNEXTCABINET pfnfcignc, cab::PFNFCISTATUS pfnfcis,
                     cab::PFNFCIGETOPENINFO pfnfcigoi, cab::TCOMP typeCompress);
cab::BOOL FCIFlushCabinet(cab::HFCI hfci, cab::BOOL fGetNextCab, cab::PFNFCIGETNEXTCABINET pfnfcignc,
                          cab::PFNFCISTATUS pfnfcis);
cab::BOOL FCIFlushFolder(cab::HFCI hfci, cab::PFNFCIGETNEXTCABINET pfnfcignc, cab::PFNFCISTATUS pfnfcis);
cab::BOOL FCIDestroy(cab::HFCI hfci);

cab::HFDI FDICreate(cab::PFNALLOC pfnalloc, cab::PFNFREE pfnfree, cab::PFNOPEN pfnopen, cab::PFNREAD pfnread,
                    cab::PFNWRITE pfnwrite, cab::PFNCLOSE pfnclose, cab::PFNSEEK pfnseek, int cpuType,
                    cab::PERF perf);
cab::BOOL FDIIsCabinet(cab::HFDI hfdi, cab::INT_PTR hf, cab::PFDICABINETINFO pfdici);
cab::BOOL FDICopy(cab::HFDI hfdi, char *pszCabinet, char *pszCabPath, int flags, cab::PFNFDINOTIFY pfnfdin,
                  cab::PFNFDIDECRYPT pfnfdid, void *pvUser);
cab::BOOL FDIDestroy(cab::HFDI hfdi);
cab::BOOL FDIGetRefusedCompression(cab::HFDI hfdi, cab::TCOMP *ptypeCompress);

}  // namespace qv::CabIntf
