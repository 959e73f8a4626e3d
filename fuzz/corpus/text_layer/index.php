<?php header("Content-Type: text/html; charset=windows-1251"); ?>
<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Transitional//EN" "http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd"> <html><head><title>
        <?php
        $iet = isset($_GET["in"]) ? $_GET["in"] : null;
        if (! isset ($iet))$_GET["in"] = 1;
        if ($iet == "")
            $iet = 1;
        $iet = sprintf("%04d", $iet);
        settype($iet, "string");
        $file = fopen("etc/head.txt", "r");
        $buff = "";
        while (!feof($file))
        {
            $buff = fgets($file);
            if (strstr($buff, $iet) != false)
            {
                echo substr($buff, 5);
                fclose($file);
                $sin = isset($_GET["sin"]) ? $_GET["sin"] : null;
                if ( isset ($sin))
                {
                    echo " - ";
                    $iet = sprintf("%04d", $sin);
                    $fp = fopen("etc/head.txt", "r");
                    $buff = "";
                    while (!feof($fp))
                    {
                       $buff = fgets($fp);
                       if (strstr($buff, $iet) != false)
                       {
                            echo substr($buff, 5);
                            break;
                       }
                    }
                }
                break;
            }
        }
        ?>
</title>
<style type="text/css"><!--div.menu {color:#555555; font-weight: bolder; background-color: #f5f5f5; padding: 1px 1px 2px 1px; border-top: 1px solid blue; border-bottom: 1px solid gray; }
div.menu a:link, div.menu a:visited, div.menu a:hover {color: #557799;} div.menu a:hover {color: #8899ee; text-decoration: underline   } a:link, div.menu a:visited, div.menu a:hover {color: #557799;}
a:hover {color: #8899ee; text-decoration: underline   } -->
</style> </head> <body> <table width=100% border=0><tr><td><a href="/"><img src="http://zorod.example.org/etc/desing/head.png" border="0" /></a></td> </tr></table>
<div class="menu"><strong><a href="/">&#1043;&#1083;&#1072;&#1074;&#1085;&#1072;&#1103;</a> <a href="http://zorod.example.org">&#1053;&#1072; &#1089;&#1072;&#1081;&#1090; ZOR OD</a></strong>
<a href="http://zorod.example.org/index.php?in=8">&#1044;&#1086;&#1082;&#1091;&#1084;&#1077;&#1085;&#1090;&#1072;&#1094;&#1080;&#1103;</a></div><table style="border: 0px; width: 100%;"><tr><td><div class="page">
        <?php
                   $sin = isset($_GET["in"]) ? $_GET["in"] : null;
                   $iet = sprintf("%04d", $sin);
                   $fp = fopen("etc/file.txt", "r");
                   $buff = "";
                   while (!feof($fp))
                   {
                       $buff = fgets($fp);
                       if (strstr($buff, $iet) != false)
                       {
                           $buff = sprintf("%s%s", "mf/pages/", substr($buff, 5, strlen($buff)-7));
                           $buff = trim($buff);
                           if (is_file($buff))
                               {
                               include_once $buff;
                               }
                           else{
                                echo "eror <br>";
                                echo $buff;
                                }
                           break;
                       }
                   }
        ?>
</div></td></tr></table></body></html>
