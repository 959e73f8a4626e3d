<?php
// Written by the upload for one run: unpacks the archive beside it into the site's folders, says
// what every file it wrote now holds, and deletes the archive and itself whatever happens.
// Answers one JSON object; needs no PHP extension.

@ignore_user_abort(true);
@set_time_limit(300);

$zorodSelf = __FILE__;
$zorodArchive = substr($zorodSelf, 0, -4) . '.tar';
$zorodTemporary = null;

register_shutdown_function(function () use ($zorodSelf, $zorodArchive) {
    global $zorodTemporary;
    if ($zorodTemporary !== null) {
        @unlink($zorodTemporary);
    }
    @unlink($zorodArchive);
    @unlink($zorodSelf);
});

function zorodAnswer(array $data)
{
    if (!headers_sent()) {
        header('Content-Type: application/json');
        header('Cache-Control: no-store');
    }
    $data['zorodUnpack'] = 1;
    echo json_encode($data);
    exit;
}

function zorodRefuse($error, $message, array $files = [], array $refused = [])
{
    zorodAnswer(['ok' => false, 'error' => $error, 'message' => $message, 'files' => $files,
                 'refused' => $refused]);
}

// A name field of a header: up to its first NUL, which only more NULs may follow.
function zorodField($field)
{
    $end = strpos($field, "\0");
    if ($end === false) {
        return $field;
    }
    return trim(substr($field, $end), "\0") === '' ? substr($field, 0, $end) : null;
}

function zorodOctal($field)
{
    $digits = trim($field, " \0");
    if ($digits === '' || !preg_match('/^[0-7]{1,12}$/', $digits)) {
        return null;
    }
    return octdec($digits);
}

// Only what the upload itself sends: a file of the site's root or of one of its folders, by a
// plain relative name.
function zorodAcceptable($path)
{
    static $folders = ['' => true, 'mf' => true, 'mf/img' => true, 'mf/music' => true,
                       'mf/other' => true, 'mf/pages' => true, 'etc' => true,
                       'etc/desing' => true, 'etc/blocs' => true];
    if ($path === '' || strpos($path, "\0") !== false || strpos($path, '\\') !== false ||
        $path[0] === '/') {
        return false;
    }
    $parts = explode('/', $path);
    foreach ($parts as $part) {
        if ($part === '' || $part === '.' || $part === '..') {
            return false;
        }
    }
    $name = array_pop($parts);
    if (strncmp($name, 'zorod-unpack-', 13) === 0 || strncmp($name, '.zorod-unpack-', 14) === 0) {
        return false;
    }
    return isset($folders[implode('/', $parts)]);
}

function zorodMakeFolders($root, $folder)
{
    $path = $root;
    foreach ($folder === '' ? [] : explode('/', $folder) as $part) {
        $path .= '/' . $part;
        if (is_link($path)) {
            return false;
        }
        if (!is_dir($path)) {
            if (!@mkdir($path, 0755)) {
                return false;
            }
            @chmod($path, 0755);
        }
    }
    return true;
}

$zorodSecret = '@SECRET@';
$given = isset($_POST['secret']) && is_string($_POST['secret']) ? $_POST['secret'] : '';
if (!hash_equals($zorodSecret, $given)) {
    zorodRefuse('secret', 'the request does not carry this run\'s secret');
}
clearstatcache();
$written = @filemtime($zorodSelf);
if ($written === false || time() - $written > @MAXAGE@) {
    zorodRefuse('age', 'the script is older than it may be');
}
if (!is_file($zorodArchive) || is_link($zorodArchive)) {
    zorodRefuse('archive', 'the archive is not there');
}

// Files PHP writes belong to the user PHP runs as; the FTP account could not replace or delete
// them later unless that is the account's own user, who wrote the archive.
$archiveOwner = @fileowner($zorodArchive);
$phpUser = function_exists('posix_geteuid') ? posix_geteuid() : null;
if ($phpUser === null) {
    $probe = @tempnam(sys_get_temp_dir(), 'zorod');
    if ($probe !== false) {
        $phpUser = @fileowner($probe);
        @unlink($probe);
    }
}
if ($archiveOwner === false || $phpUser === null || $phpUser === false) {
    zorodRefuse('owner-unknown', 'the user PHP runs as cannot be told');
}
if ($archiveOwner !== $phpUser) {
    zorodRefuse('owner', 'PHP runs as user ' . $phpUser . ', the archive belongs to user ' .
                         $archiveOwner);
}

$root = dirname($zorodSelf);
$in = @fopen($zorodArchive, 'rb');
if ($in === false) {
    zorodRefuse('archive', 'the archive cannot be read');
}
$files = [];
$refused = [];
for (;;) {
    $header = fread($in, 512);
    if ($header === false || strlen($header) !== 512) {
        zorodRefuse('archive', 'the archive ends too early', $files, $refused);
    }
    if ($header === str_repeat("\0", 512)) {
        break;
    }
    $sum = 0;
    for ($i = 0; $i < 512; ++$i) {
        $sum += ($i >= 148 && $i < 156) ? 32 : ord($header[$i]);
    }
    $size = zorodOctal(substr($header, 124, 12));
    if (zorodOctal(substr($header, 148, 8)) !== $sum || $size === null) {
        zorodRefuse('archive', 'a damaged header', $files, $refused);
    }
    $name = zorodField(substr($header, 0, 100));
    $prefix = substr($header, 257, 5) === 'ustar' ? zorodField(substr($header, 345, 155)) : '';
    $type = $header[156];
    $padding = (512 - $size % 512) % 512;
    $path = ($name === null || $prefix === null) ? null
                                                 : ($prefix === '' ? $name : $prefix . '/' . $name);
    if (($type !== '0' && $type !== "\0") || $path === null || !zorodAcceptable($path)) {
        $refused[] = rawurlencode($path === null ? substr($header, 0, 100) : $path);
        if ($size + $padding > 0 && fseek($in, $size + $padding, SEEK_CUR) !== 0) {
            zorodRefuse('archive', 'the archive ends too early', $files, $refused);
        }
        continue;
    }
    $slash = strrpos($path, '/');
    $folder = $slash === false ? '' : substr($path, 0, $slash);
    $target = $root . '/' . $path;
    if (!zorodMakeFolders($root, $folder) || is_dir($target)) {
        zorodRefuse('write', 'cannot write ' . $path, $files, $refused);
    }
    // Written beside its place and renamed into it: a visitor gets the old file or the new one.
    $zorodTemporary = dirname($target) . '/.zorod-unpack-' . bin2hex(random_bytes(8)) . '.tmp';
    $out = @fopen($zorodTemporary, 'xb');
    if ($out === false) {
        zorodRefuse('write', 'cannot write ' . $path, $files, $refused);
    }
    $left = $size;
    while ($left > 0) {
        $chunk = fread($in, min($left, 1048576));
        if ($chunk === false || $chunk === '') {
            fclose($out);
            zorodRefuse('archive', 'the archive ends too early', $files, $refused);
        }
        if (fwrite($out, $chunk) !== strlen($chunk)) {
            fclose($out);
            zorodRefuse('write', 'cannot write ' . $path, $files, $refused);
        }
        $left -= strlen($chunk);
    }
    if (!fclose($out) || ($padding > 0 && strlen(fread($in, $padding)) !== $padding)) {
        zorodRefuse('write', 'cannot write ' . $path, $files, $refused);
    }
    @chmod($zorodTemporary, 0644);
    if (!@rename($zorodTemporary, $target)) {
        zorodRefuse('write', 'cannot write ' . $path, $files, $refused);
    }
    $zorodTemporary = null;
    clearstatcache();
    $files[] = ['path' => rawurlencode($path), 'size' => filesize($target),
                'md5' => md5_file($target)];
}
fclose($in);
zorodAnswer(['ok' => true, 'files' => $files, 'refused' => $refused]);
