#!/usr/bin/env python3
"""Makes the fixed certificates of the test HTTPS service (tests/updateservice.h):
good.crt/good.key, the one the tests trust, and bad.crt/bad.key, one nobody
trusts. Both are self-signed for 127.0.0.1 with RSA keys (the Windows TLS
backend takes no other kind) and valid from 2000 to 2100, so that neither a
clock set back nor years of use make them fail. Run in this folder:
    python3 make_certificates.py
"""
import datetime
import ipaddress

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import NameOID


def make(name):
    key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
    subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "127.0.0.1"),
                         x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Zarvelo tests (" + name + ")")])
    cert = (x509.CertificateBuilder()
            .subject_name(subject)
            .issuer_name(subject)
            .public_key(key.public_key())
            .serial_number(x509.random_serial_number())
            .not_valid_before(datetime.datetime(2000, 1, 1, tzinfo=datetime.timezone.utc))
            .not_valid_after(datetime.datetime(2100, 1, 1, tzinfo=datetime.timezone.utc))
            .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
            .add_extension(x509.SubjectAlternativeName([
                x509.IPAddress(ipaddress.ip_address("127.0.0.1")),
                x509.DNSName("localhost")]), critical=False)
            .sign(key, hashes.SHA256()))
    with open(name + ".crt", "wb") as f:
        f.write(cert.public_bytes(serialization.Encoding.PEM))
    with open(name + ".key", "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.TraditionalOpenSSL,
                                  serialization.NoEncryption()))


for name in ("good", "bad"):
    make(name)
