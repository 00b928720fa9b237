"""What the FTP benchmarks share: the test services' vsftpd and a file of
random bytes it serves, made once."""
import os


def vsftpd():
    """Port, root folder, user and password of the services' vsftpd."""
    env = os.environ
    return (env["ZEMBO_VSFTPD_PORT"], env["ZEMBO_VSFTPD_ROOT"], env["ZEMBO_VSFTPD_USER"],
            env["ZEMBO_VSFTPD_PASSWORD"])


def served_file(root, name, size):
    """root/name holding size random bytes, written only when it is not there yet."""
    path = os.path.join(root, name)
    if not os.path.exists(path) or os.path.getsize(path) != size:
        with open(path, "wb") as f:
            block = os.urandom(1 << 20)
            for _ in range(size >> 20):
                f.write(block)
    return path


def url(port, user, password):
    """The services' vsftpd as zembo-ftp and curl take it (the test account)."""
    return "ftp://%s:%s@127.0.0.1:%s/" % (user, password, port)
