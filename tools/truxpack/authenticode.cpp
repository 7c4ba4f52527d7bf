#include "tools/truxpack/authenticode.h"

#include <string.h>
#include <time.h>

#include <memory>
#include <utility>
#include <vector>

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "archive/pe_image.h"
#include "core/byte_order.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr size_t kChunk = 1u << 20;
// A certificate table holds a signature and a few certificates (a few
// kilobytes); anything beyond this is not read.
constexpr uint32_t kMaxCertificateTable = 16u << 20;
constexpr uint32_t kWinCertificateHeader = 8;          // dwLength, wRevision, wCertificateType
constexpr uint32_t kWinCertRevision2 = 0x0200;
constexpr uint32_t kWinCertTypePkcsSignedData = 0x0002;
constexpr char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char kRfc3161Timestamp[] = "1.3.6.1.4.1.311.3.3.1";
// The most bytes after the archive section an uninstaller is derived with
// for its signature: its own certificate table and the installer's.
constexpr uint64_t kMaxCheckedTail = 2 * (uint64_t)kMaxCertificateTable;

struct Pkcs7Free {
  void operator()(PKCS7* p) const { PKCS7_free(p); }
};
struct X509SigFree {
  void operator()(X509_SIG* p) const { X509_SIG_free(p); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};

SignatureCheck Invalid(SignatureCheck check, const std::string& why) {
  check.state = SignatureCheck::State::kInvalid;
  check.problem = why;
  return check;
}

// Where the fields signing changes lie: the PE header's offset, read and
// bounded as the runtime does.
bool PeHeaderOffset(ByteSource& file, uint32_t& pe) {
  unsigned char two[2];
  if (!file.ReadAt(0x3C, two, 2)) return false;
  pe = LoadLe16(two);
  return pe >= 0x40 && pe <= 0x1000;
}

// The headers up to the end of the security directory entry.
bool ReadHeaders(ByteSource& file, uint32_t pe, Bytes& head) {
  head.resize(pe + kPeSecurityDirectoryField + 8);
  return file.ReadAt(0, head.data(), head.size());
}

std::string ObjectText(const ASN1_OBJECT* object) {
  char text[128];
  int n = OBJ_obj2txt(text, sizeof text, object, 1);
  return n > 0 && (size_t)n < sizeof text ? std::string(text) : std::string();
}

std::string NameText(const X509_NAME* name) {
  BIO* bio = BIO_new(BIO_s_mem());
  if (!bio) return std::string();
  X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  std::string text = n > 0 ? std::string(data, (size_t)n) : std::string();
  BIO_free(bio);
  return text;
}

std::string DateText(const ASN1_TIME* time) {
  struct tm tm;
  if (!time || ASN1_TIME_to_tm(time, &tm) != 1) return std::string();
  char text[48];
  snprintf(text, sizeof text, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return text;
}

std::string DigestName(const EVP_MD* md) {
  const char* name = OBJ_nid2ln(EVP_MD_get_type(md));
  return name ? name : "unknown";
}

// The Authenticode digest: every byte before the table but the checksum
// and the security directory entry, in file order.
bool FileDigest(ByteSource& file, uint32_t pe, uint32_t tableOffset, const EVP_MD* md, Bytes& digest) {
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return false;
  const uint64_t skips[2][2] = {{pe + kPeChecksumField, 4}, {pe + kPeSecurityDirectoryField, 8}};
  Bytes chunk(kChunk);
  uint64_t at = 0;
  for (int part = 0; part <= 2; ++part) {
    const uint64_t end = part < 2 ? skips[part][0] : tableOffset;
    while (at < end) {
      size_t take = end - at < chunk.size() ? (size_t)(end - at) : chunk.size();
      if (!file.ReadAt(at, chunk.data(), take) || EVP_DigestUpdate(ctx.get(), chunk.data(), take) != 1) return false;
      at += take;
    }
    if (part < 2) at += skips[part][1];
  }
  unsigned int n = 0;
  digest.resize(EVP_MAX_MD_SIZE);
  if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &n) != 1) return false;
  digest.resize(n);
  return true;
}

bool Digest(const EVP_MD* md, const unsigned char* data, size_t n, Bytes& digest) {
  unsigned int size = 0;
  digest.resize(EVP_MAX_MD_SIZE);
  if (EVP_Digest(data, n, digest.data(), &size, md, nullptr) != 1) return false;
  digest.resize(size);
  return true;
}

bool SameBytes(const Bytes& a, const ASN1_OCTET_STRING* b) {
  return b && (size_t)ASN1_STRING_length(b) == a.size() && memcmp(ASN1_STRING_get0_data(b), a.data(), a.size()) == 0;
}

// The digest algorithm and value that SpcIndirectDataContent
// (SEQUENCE { data, messageDigest DigestInfo }) holds, and where its
// content octets (the bytes the signer's messageDigest attribute covers) are.
bool ParseIndirectData(const ASN1_STRING* sequence, const EVP_MD*& md, Bytes& digest, const unsigned char*& content,
                       long& contentLength) {
  const unsigned char* p = ASN1_STRING_get0_data(sequence);
  const long total = ASN1_STRING_length(sequence);
  const unsigned char* end = p + total;
  int tag = 0, cls = 0;
  long length = 0;
  if ((ASN1_get_object(&p, &length, &tag, &cls, total) & 0x80) || tag != V_ASN1_SEQUENCE || length > end - p)
    return false;
  content = p;
  contentLength = length;
  const unsigned char* inner = p;
  // The first element (the image's SpcPeImageData) is skipped.
  if ((ASN1_get_object(&inner, &length, &tag, &cls, end - inner) & 0x80) || length > end - inner) return false;
  inner += length;
  std::unique_ptr<X509_SIG, X509SigFree> info(d2i_X509_SIG(nullptr, &inner, end - inner));
  if (!info) return false;
  const X509_ALGOR* algorithm = nullptr;
  const ASN1_OCTET_STRING* value = nullptr;
  X509_SIG_get0(info.get(), &algorithm, &value);
  const ASN1_OBJECT* object = nullptr;
  X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
  md = object ? EVP_get_digestbyobj(object) : nullptr;
  if (!md || !value) return false;
  digest.assign(ASN1_STRING_get0_data(value), ASN1_STRING_get0_data(value) + ASN1_STRING_length(value));
  return true;
}

bool HasTimestamp(const PKCS7_SIGNER_INFO* si) {
  for (int i = 0; i < sk_X509_ATTRIBUTE_num(si->unauth_attr); ++i) {
    const ASN1_OBJECT* object = X509_ATTRIBUTE_get0_object(sk_X509_ATTRIBUTE_value(si->unauth_attr, i));
    if (OBJ_obj2nid(object) == NID_pkcs9_countersignature || ObjectText(object) == kRfc3161Timestamp) return true;
  }
  return false;
}

// The signer's signature over its authenticated attributes (DER, as a SET).
bool AttributesSigned(PKCS7_SIGNER_INFO* si, X509* certificate, const EVP_MD* md) {
  unsigned char* attributes = nullptr;
  int n = ASN1_item_i2d((ASN1_VALUE*)si->auth_attr, &attributes, ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
  if (n <= 0) return false;
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
  EVP_PKEY* key = X509_get0_pubkey(certificate);
  bool ok = ctx && key && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
            EVP_DigestVerify(ctx.get(), ASN1_STRING_get0_data(si->enc_digest), (size_t)ASN1_STRING_length(si->enc_digest),
                             attributes, (size_t)n) == 1;
  OPENSSL_free(attributes);
  return ok;
}

}  // namespace

const char* SignatureStateName(SignatureCheck::State state) {
  switch (state) {
    case SignatureCheck::State::kValid: return "valid";
    case SignatureCheck::State::kInvalid: return "invalid";
    default: return "none";
  }
}

SignatureCheck CheckSignature(ByteSource& file) {
  SignatureCheck check;
  uint32_t pe = 0;
  Bytes head;
  if (!PeHeaderOffset(file, pe) || !ReadHeaders(file, pe, head)) return check;
  const CertificateTable table = SecurityDirectory(head.data(), (int64_t)head.size(), pe);
  if (table.offset == 0 && table.size == 0) return check;
  check.tableOffset = table.offset;
  check.tableSize = table.size;

  const uint64_t end = (uint64_t)table.offset + table.size;
  if (end != file.Size()) return Invalid(check, "the certificate table does not end the file");
  if (table.offset < head.size()) return Invalid(check, "the certificate table overlaps the headers");
  if (table.offset % 8 != 0) return Invalid(check, "the certificate table is not aligned to 8 bytes");
  if (table.size < kWinCertificateHeader || table.size > kMaxCertificateTable)
    return Invalid(check, "the certificate table's size is " + std::to_string(table.size) + " bytes");
  Bytes certificate(table.size);
  if (!file.ReadAt(table.offset, certificate.data(), certificate.size()))
    return Invalid(check, "the certificate table cannot be read");
  const uint32_t length = LoadLe32(&certificate[0]);
  if (length < kWinCertificateHeader || length > table.size || LoadLe16(&certificate[4]) != kWinCertRevision2 ||
      LoadLe16(&certificate[6]) != kWinCertTypePkcsSignedData)
    return Invalid(check, "the certificate table holds no PKCS#7 signature");

  const unsigned char* der = certificate.data() + kWinCertificateHeader;
  std::unique_ptr<PKCS7, Pkcs7Free> p7(d2i_PKCS7(nullptr, &der, (long)(length - kWinCertificateHeader)));
  if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign || !p7->d.sign->contents)
    return Invalid(check, "the signature is not PKCS#7 signed data");
  PKCS7* contents = p7->d.sign->contents;
  if (ObjectText(contents->type) != kSpcIndirectData || !contents->d.other ||
      contents->d.other->type != V_ASN1_SEQUENCE)
    return Invalid(check, "the signature does not sign a PE image digest");

  const EVP_MD* md = nullptr;
  Bytes signedDigest;
  const unsigned char* content = nullptr;
  long contentLength = 0;
  if (!ParseIndirectData(contents->d.other->value.sequence, md, signedDigest, content, contentLength))
    return Invalid(check, "the signed image digest cannot be read");
  check.hash = DigestName(md);

  STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7.get());
  if (sk_PKCS7_SIGNER_INFO_num(signers) != 1) return Invalid(check, "the signature has no single signer");
  PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(signers, 0);
  X509* signer = si->issuer_and_serial
                     ? X509_find_by_issuer_and_serial(p7->d.sign->cert, si->issuer_and_serial->issuer,
                                                      si->issuer_and_serial->serial)
                     : nullptr;
  if (!signer) return Invalid(check, "the signer's certificate is missing");
  check.signer = NameText(X509_get_subject_name(signer));
  check.issuer = NameText(X509_get_issuer_name(signer));
  check.notBefore = DateText(X509_get0_notBefore(signer));
  check.notAfter = DateText(X509_get0_notAfter(signer));
  check.timestamped = HasTimestamp(si);

  const ASN1_OBJECT* signerAlgorithm = nullptr;
  X509_ALGOR_get0(&signerAlgorithm, nullptr, nullptr, si->digest_alg);
  const EVP_MD* signerMd = signerAlgorithm ? EVP_get_digestbyobj(signerAlgorithm) : nullptr;
  if (!signerMd || EVP_MD_get_type(signerMd) != EVP_MD_get_type(md))
    return Invalid(check, "the signer's digest algorithm differs from the image digest's");

  Bytes fileDigest;
  if (!FileDigest(file, pe, table.offset, md, fileDigest)) return Invalid(check, "the file cannot be read");
  if (fileDigest != signedDigest) return Invalid(check, "the file's digest differs from the signed one (changed after signing)");

  Bytes contentDigest;
  if (!Digest(md, content, (size_t)contentLength, contentDigest) ||
      !SameBytes(contentDigest, PKCS7_digest_from_attributes(si->auth_attr)))
    return Invalid(check, "the signed attributes do not cover the image digest");
  if (!AttributesSigned(si, signer, md)) return Invalid(check, "the signature does not match the signer's certificate");
  check.state = SignatureCheck::State::kValid;
  return check;
}

bool SignatureOnlyAdded(ByteSource& unsignedImage, ByteSource& signedImage, std::string& why) {
  uint32_t pe = 0;
  Bytes head;
  if (!PeHeaderOffset(unsignedImage, pe) || !ReadHeaders(unsignedImage, pe, head)) {
    why = "the image to sign is no PE image";
    return false;
  }
  Bytes signedHead;
  if (!ReadHeaders(signedImage, pe, signedHead)) {
    why = "the signed image lost its headers";
    return false;
  }
  const uint64_t before = unsignedImage.Size(), after = signedImage.Size();
  const CertificateTable table = SecurityDirectory(signedHead.data(), (int64_t)signedHead.size(), pe);
  if (table.size == 0 || (uint64_t)table.offset + table.size != after || table.offset < before ||
      table.offset - before >= 8) {
    why = "the signed image does not end with the certificate table its security directory names";
    return false;
  }
  // Every byte of the unsigned image, but the checksum and the security
  // directory entry, is unchanged.
  Bytes a(kChunk), b(kChunk);
  for (uint64_t at = 0; at < before;) {
    size_t take = before - at < kChunk ? (size_t)(before - at) : kChunk;
    if (!unsignedImage.ReadAt(at, a.data(), take) || !signedImage.ReadAt(at, b.data(), take)) {
      why = "the signed image cannot be read";
      return false;
    }
    for (uint64_t field : {(uint64_t)pe + kPeChecksumField, (uint64_t)pe + kPeSecurityDirectoryField}) {
      const uint64_t size = field == (uint64_t)pe + kPeChecksumField ? 4 : 8;
      for (uint64_t i = field; i < field + size; ++i)
        if (i >= at && i < at + take) a[(size_t)(i - at)] = b[(size_t)(i - at)];
    }
    if (memcmp(a.data(), b.data(), take) != 0) {
      size_t i = 0;
      while (a[i] == b[i]) ++i;
      why = "the signing changed byte " + std::to_string(at + i) + " of the image, beyond the checksum and the "
            "security directory";
      return false;
    }
    at += take;
  }
  // The alignment bytes between the image and its table are zeros.
  for (uint64_t at = before; at < table.offset; ++at) {
    unsigned char c = 1;
    if (!signedImage.ReadAt(at, &c, 1) || c != 0) {
      why = "the signing put bytes between the image and its certificate table";
      return false;
    }
  }
  return true;
}

InstallerSignatures CheckInstallerSignatures(ByteSource& file, const InstallerContents& c, uint64_t maxSize,
                                             String* uninstaller) {
  InstallerSignatures out;
  out.installer = CheckSignature(file);
  out.uninstallerWritten = c.settings.Flag(kFlagUninstaller);
  // The uninstaller is held to check it. Bytes after the section beyond a
  // few signatures' worth are data outside the image: such an uninstaller
  // is not derived, so that reading an installer keeps its memory bound.
  const PeLayout& L = c.layout;
  const uint64_t after = (uint64_t)L.sectionFileOffset + L.sectionRawSize;
  const uint64_t tail = file.Size() > after ? file.Size() - after : 0;
  if (tail > kMaxCheckedTail) {
    out.uninstallerUnchecked = "it carries the " + std::to_string(tail) +
                               " bytes after the archive section (data outside the image); not derived";
    return out;
  }
  const uint64_t most = L.sectionFileOffset + tail;
  if (most > maxSize) {
    out.uninstallerUnchecked = "the uninstaller would take " + std::to_string(most) + " bytes, more than the limit of " +
                               std::to_string(maxSize) + " (raise it with --max-size)";
    return out;
  }
  String image;
  const int32_t code = DeriveUninstaller(file, c, image);
  if (code != kArchiveOk) {
    out.uninstallerUnchecked = "the uninstaller cannot be derived: corrupt archive, error code " + std::to_string(code) +
                               ": " + ArchiveErrorText(code);
    return out;
  }
  MemorySource source(reinterpret_cast<const unsigned char*>(image.CStr()), (size_t)image.Length());
  out.uninstaller = CheckSignature(source);
  if (uninstaller) *uninstaller = std::move(image);
  return out;
}
