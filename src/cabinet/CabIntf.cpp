#include "cabinet/CabIntf.h"

namespace qv::CabIntf {

cab::HFCI FCICreate(cab::PERF perf, cab::PFNFCIFILEPLACED pfnfcifp, cab::PFNFCIALLOC pfna, cab::PFNFCIFREE pfnf,
                    cab::PFNFCIOPEN pfnopen, cab::PFNFCIREAD pfnread, cab::PFNFCIWRITE pfnwrite,
                    cab::PFNFCICLOSE pfnclose, cab::PFNFCISEEK pfnseek, cab::PFNFCIDELETE pfndelete,
                    cab::PFNFCIGETTEMPFILE pfnfcigtf, cab::PCCAB pccab, void *pv)
{
    return cab::FCICreate(perf, pfnfcifp, pfna, pfnf, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek, pfndelete,
                          pfnfcigtf, pccab, pv);
}

cab::BOOL FCIAddFile(cab::HFCI hfci, char *pszSourceFile, char *pszFileName, cab::BOOL fExecute,
                     cab::PFNFCIGETNEXTCABINET pfnfcignc, cab::PFNFCISTATUS pfnfcis,
                     cab::PFNFCIGETOPENINFO pfnfcigoi, cab::TCOMP typeCompress)
{
    return cab::FCIAddFile(hfci, pszSourceFile, pszFileName, fExecute, pfnfcignc, pfnfcis, pfnfcigoi, typeCompress);
}

cab::BOOL FCIFlushCabinet(cab::HFCI hfci, cab::BOOL fGetNextCab, cab::PFNFCIGETNEXTCABINET pfnfcignc,
                          cab::PFNFCISTATUS pfnfcis)
{
    return cab::FCIFlushCabinet(hfci, fGetNextCab, pfnfcignc, pfnfcis);
}

cab::BOOL FCIFlushFolder(cab::HFCI hfci, cab::PFNFCIGETNEXTCABINET pfnfcignc, cab::PFNFCISTATUS pfnfcis)
{
    return cab::FCIFlushFolder(hfci, pfnfcignc, pfnfcis);
}

cab::BOOL FCIDestroy(cab::HFCI hfci) { return cab::FCIDestroy(hfci); }

cab::HFDI FDICreate(cab::PFNALLOC pfnalloc, cab::PFNFREE pfnfree, cab::PFNOPEN pfnopen, cab::PFNREAD pfnread,
                    cab::PFNWRITE pfnwrite, cab::PFNCLOSE pfnclose, cab::PFNSEEK pfnseek, int cpuType,
                    cab::PERF perf)
{
    return cab::FDICreate(pfnalloc, pfnfree, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek, cpuType, perf);
}

cab::BOOL FDIIsCabinet(cab::HFDI hfdi, cab::INT_PTR hf, cab::PFDICABINETINFO pfdici)
{
    return cab::FDIIsCabinet(hfdi, hf, pfdici);
}

cab::BOOL FDICopy(cab::HFDI hfdi, char *pszCabinet, char *pszCabPath, int flags, cab::PFNFDINOTIFY pfnfdin,
                  cab::PFNFDIDECRYPT pfnfdid, void *pvUser)
{
    return cab::FDICopy(hfdi, pszCabinet, pszCabPath, flags, pfnfdin, pfnfdid, pvUser);
}

cab::BOOL FDIDestroy(cab::HFDI hfdi) { return cab::FDIDestroy(hfdi); }

cab::BOOL FDIGetRefusedCompression(cab::HFDI hfdi, cab::TCOMP *ptypeCompress)
{
    return cab::FDIGetRefusedCompression(hfdi, ptypeCompress);
}

}  // namespace qv::CabIntf
